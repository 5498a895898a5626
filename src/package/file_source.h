// Read-only stream buffer over a file descriptor, the source the package
// reader is given for package files and standard input. Unlike
// std::filebuf it never throws: a read error reads as the end of the file,
// which the reader reports as a short part. Seeking works on files and
// fails on pipes (the reader then reads and discards instead).
#ifndef PACKAGE_FILE_SOURCE_H_
#define PACKAGE_FILE_SOURCE_H_

#include <streambuf>
#include <string>

class FileSource : public std::streambuf {
 public:
  FileSource() = default;
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // Opens `path` read-only without blocking; false unless it is a regular
  // file. The descriptor is closed with the source.
  bool open(const std::string& path);
  // Reads from `fd`, which the caller keeps and closes (standard input).
  void attach(int fd);

 protected:
  int_type underflow() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  pos_type reposition(off_type offset, int whence);

  int fd_ = -1;
  bool owned_ = false;
  char buffer_[65536];  // one read(2) of a pipe holds at most this much by default
};

#endif  // PACKAGE_FILE_SOURCE_H_

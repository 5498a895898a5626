#include "package/file_source.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/regular_file.h"

FileSource::~FileSource() {
  if (owned_ && fd_ >= 0) close(fd_);
}

bool FileSource::open(const std::string& path) {
  fd_ = openRegularFile(path);
  owned_ = true;
  return fd_ >= 0;
}

void FileSource::attach(int fd) {
  fd_ = fd;
  owned_ = false;
}

FileSource::int_type FileSource::underflow() {
  ssize_t got;
  do {
    got = read(fd_, buffer_, sizeof buffer_);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return traits_type::eof();
  setg(buffer_, buffer_, buffer_ + got);
  return traits_type::to_int_type(buffer_[0]);
}

FileSource::pos_type FileSource::seekoff(off_type offset, std::ios_base::seekdir direction,
                                         std::ios_base::openmode which) {
  if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
  int whence = SEEK_SET;
  if (direction == std::ios_base::cur) {
    // The descriptor stands past the bytes still buffered.
    offset -= egptr() - gptr();
    whence = SEEK_CUR;
  } else if (direction == std::ios_base::end) {
    whence = SEEK_END;
  }
  return reposition(offset, whence);
}

FileSource::pos_type FileSource::seekpos(pos_type position, std::ios_base::openmode which) {
  if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
  return reposition(off_type(position), SEEK_SET);
}

FileSource::pos_type FileSource::reposition(off_type offset, int whence) {
  off_t now = lseek(fd_, static_cast<off_t>(offset), whence);
  if (now < 0) return pos_type(off_type(-1));
  setg(buffer_, buffer_, buffer_);
  return pos_type(off_type(now));
}

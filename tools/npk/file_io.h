// Files as npk reads and writes them. "-" names standard input or
// standard output. Errors name the file and the system's reason.
#ifndef NPK_FILE_IO_H_
#define NPK_FILE_IO_H_

#include <stdint.h>

#include <memory>
#include <sstream>
#include <streambuf>
#include <string>

#include "package/file_source.h"

// A package file open for reading, seekable so that it can be read more
// than once: a file is read through its descriptor, standard input is
// taken into memory first.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False with *error when the file cannot be opened or read.
  bool open(const std::string& path, std::string* error);
  // The source positioned at the start of the file. Valid while this
  // object lives; each call rewinds it.
  std::streambuf* rewound();
  uint64_t size() const { return size_; }

 private:
  std::unique_ptr<FileSource> file_;
  std::unique_ptr<std::stringbuf> memory_;
  uint64_t size_ = 0;
};

// The whole content of a file, or of standard input for "-".
bool readWholeFile(const std::string& path, std::string* content, std::string* error);

// Writes `bytes` to `path` as a whole: into a temporary file beside it,
// renamed over it once complete (an existing file stays intact when
// anything fails), with mode 0666 less the umask. "-" writes to standard
// output.
bool writeOutputFile(const std::string& path, const std::string& bytes, std::string* error);

#endif  // NPK_FILE_IO_H_

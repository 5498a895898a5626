// An anonymous temporary file whose descriptor survives fork, chroot and
// exec: a child writes what it prints into it, the parent reads it back.
#ifndef TESTS_SUPPORT_SCRATCH_FILE_H_
#define TESTS_SUPPORT_SCRATCH_FILE_H_

#include <stdio.h>

#include <string>

namespace testing_support {

class ScratchFile {
 public:
  ScratchFile() : file_(tmpfile()) {}
  ~ScratchFile() {
    if (file_) fclose(file_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  int fd() const { return file_ ? fileno(file_) : -1; }
  // Replaces the content with `text` and rewinds, for use as an input.
  void write(const std::string& text) {
    if (!file_) return;
    fwrite(text.data(), 1, text.size(), file_);
    fflush(file_);
    rewind(file_);
  }
  std::string readAll() const {
    std::string all;
    if (!file_) return all;
    rewind(file_);
    char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file_)) > 0) all.append(block, got);
    return all;
  }

 private:
  FILE* file_;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_SCRATCH_FILE_H_

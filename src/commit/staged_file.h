// A staged file open for writing: the descriptor its creation returned,
// written without a buffer of its own, so that the caller's pieces are the
// system's writes. Owns the descriptor; closes it when it goes away.
#ifndef COMMIT_STAGED_FILE_H_
#define COMMIT_STAGED_FILE_H_

#include <stddef.h>

class StagedFile {
 public:
  StagedFile() = default;
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Takes over `fd` (closing an earlier one); -1 leaves the file not open.
  void adopt(int fd);
  bool isOpen() const { return fd_ >= 0; }
  // Writes all of `bytes`. False on failure, with errno telling why.
  bool write(const char* bytes, size_t length);
  // False when closing failed (or nothing was open), with errno set.
  bool close();

 private:
  int fd_ = -1;
};

#endif  // COMMIT_STAGED_FILE_H_

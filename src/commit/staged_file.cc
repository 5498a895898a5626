#include "commit/staged_file.h"

#include <errno.h>
#include <unistd.h>

StagedFile::~StagedFile() {
  if (fd_ >= 0) ::close(fd_);
}

void StagedFile::adopt(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool StagedFile::write(const char* bytes, size_t length) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  while (length > 0) {
    ssize_t wrote = ::write(fd_, bytes, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return false;
    if (wrote == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes += wrote;
    length -= static_cast<size_t>(wrote);
  }
  return true;
}

bool StagedFile::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  int result = ::close(fd_);
  fd_ = -1;
  return result == 0;
}

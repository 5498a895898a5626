#include "platform/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/handles.h"

namespace {

const size_t kReadChunk = 16384;

ssize_t readSome(int fd, char* out, size_t n) {
  ssize_t got;
  do {
    got = read(fd, out, n);
  } while (got < 0 && errno == EINTR);
  return got;
}

}  // namespace

int openRegularFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    errno = ENOENT;
    return -1;
  }
  return fd;
}

bool writableAsRegularFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

FileRead readRegularFile(const std::string& path, size_t limit, std::string* content) {
  content->clear();
  Descriptor file(openRegularFile(path));
  if (!file.valid()) return FileRead::kMissing;
  char chunk[kReadChunk];
  for (;;) {
    // One byte more than the bound tells a file of exactly `limit` bytes
    // from a longer one.
    size_t want = std::min(sizeof chunk, limit + 1 - content->size());
    ssize_t got = readSome(file.get(), chunk, want);
    if (got <= 0) return FileRead::kRead;
    content->append(chunk, static_cast<size_t>(got));
    if (content->size() > limit) {
      content->resize(limit);
      return FileRead::kTooLong;
    }
  }
}

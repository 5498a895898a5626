#include "platform/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdint.h>
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

// Opens `path` as openRegularFile does; *size is the file's size then.
int openRegular(const std::string& path, size_t* size) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    errno = ENOENT;
    return -1;
  }
  // A 32-bit size_t cannot hold every size; the reader bounds it anyway.
  uint64_t bytes = static_cast<uint64_t>(status.st_size);
  *size = bytes > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(bytes);
  return fd;
}

}  // namespace

int openRegularFile(const std::string& path) {
  size_t size = 0;
  return openRegular(path, &size);
}

bool writableAsRegularFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

// The first read asks for the size the file had when it was opened and
// one byte more, the byte that tells a file that has grown (or a file of
// exactly `limit` bytes from a longer one). A read of a regular file
// returns fewer bytes than asked only at the file's end, so a file that
// kept its size takes one read and no second one to find its end.
FileRead readRegularFile(const std::string& path, size_t limit, std::string* content) {
  content->clear();
  size_t size = 0;
  Descriptor file(openRegular(path, &size));
  if (!file.valid()) return FileRead::kMissing;
  size_t want = std::min(size, limit) + 1;
  for (;;) {
    size_t held = content->size();
    content->resize(held + want);
    ssize_t got = readSome(file.get(), &(*content)[held], want);
    content->resize(held + (got > 0 ? static_cast<size_t>(got) : 0));
    if (content->size() > limit) {
      content->resize(limit);
      return FileRead::kTooLong;
    }
    if (got <= 0 || static_cast<size_t>(got) < want) return FileRead::kRead;
    want = std::min(kReadChunk, limit + 1 - content->size());
  }
}

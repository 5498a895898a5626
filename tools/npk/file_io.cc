#include "file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kStandardStream[] = "-";

std::string systemFault(const std::string& path, const char* what) {
  return path + ": " + what + ": " + strerror(errno);
}

bool readDescriptor(int fd, std::string* content) {
  content->clear();
  char chunk[65536];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    content->append(chunk, size_t(got));
  }
}

bool writeDescriptor(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += size_t(wrote);
  }
  return true;
}

// A temporary file next to the target, removed unless released.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) : path_(target + ".XXXXXX") {
    fd_ = mkstemp(&path_[0]);
    if (fd_ < 0) path_.clear();
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void release() { path_.clear(); }

 private:
  std::string path_;
  int fd_;
};

mode_t creationMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool InputFile::open(const std::string& path, std::string* error) {
  if (path == kStandardStream) {
    std::string content;
    if (!readDescriptor(0, &content)) {
      *error = systemFault("standard input", "cannot read");
      return false;
    }
    size_ = content.size();
    memory_.reset(new std::stringbuf(content, std::ios::in));
    return true;
  }
  file_.reset(new FileSource);
  struct stat status;
  if (!file_->open(path)) {
    *error = systemFault(path, "cannot open");
    return false;
  }
  if (stat(path.c_str(), &status) != 0) {
    *error = systemFault(path, "cannot stat");
    return false;
  }
  if (S_ISDIR(status.st_mode)) {
    *error = path + ": is a directory";
    return false;
  }
  size_ = uint64_t(status.st_size);
  return true;
}

std::streambuf* InputFile::rewound() {
  std::streambuf* source = file_ ? static_cast<std::streambuf*>(file_.get()) : memory_.get();
  source->pubseekpos(0, std::ios::in);
  return source;
}

bool readWholeFile(const std::string& path, std::string* content, std::string* error) {
  if (path == kStandardStream) {
    if (readDescriptor(0, content)) return true;
    *error = systemFault("standard input", "cannot read");
    return false;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = systemFault(path, "cannot open");
    return false;
  }
  bool ok = readDescriptor(fd, content);
  if (!ok) *error = systemFault(path, "cannot read");
  close(fd);
  return ok;
}

bool writeOutputFile(const std::string& path, const std::string& bytes, std::string* error) {
  if (path == kStandardStream) {
    if (writeDescriptor(1, bytes)) return true;
    *error = systemFault("standard output", "cannot write");
    return false;
  }
  TemporaryFile temporary(path);
  if (temporary.fd() < 0) {
    *error = systemFault(path, "cannot create");
    return false;
  }
  if (!writeDescriptor(temporary.fd(), bytes) || fchmod(temporary.fd(), creationMode()) != 0 ||
      !temporary.close()) {
    *error = systemFault(path, "cannot write");
    return false;
  }
  if (rename(temporary.path().c_str(), path.c_str()) != 0) {
    *error = systemFault(path, "cannot rename the finished file into place");
    return false;
  }
  temporary.release();
  return true;
}

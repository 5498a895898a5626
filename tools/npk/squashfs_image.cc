#include "squashfs_image.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

const int kExecFailed = 127;
// What is kept of mksquashfs's error output for the message.
const size_t kMaxErrorText = 2000;

// A private temporary directory holding the image and mksquashfs's error
// output; removed with its two files when it goes away.
class ScratchDir {
 public:
  ScratchDir() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/npk-image.XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    if (path_.empty()) return;
    unlink(imagePath().c_str());
    unlink(errorPath().c_str());
    rmdir(path_.c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool ok() const { return !path_.empty(); }
  std::string imagePath() const { return path_ + "/image.squashfs"; }
  std::string errorPath() const { return path_ + "/errors"; }

 private:
  std::string path_;
};

// Runs mksquashfs in a child whose standard output is discarded and whose
// standard error goes to `errorPath`. Returns its exit status, or -1 when
// it cannot be started.
int runMksquashfs(const std::string& directory, const std::string& imagePath,
                  const std::string& errorPath) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    int devNull = open("/dev/null", O_RDWR);
    int errors = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (devNull < 0 || errors < 0) _exit(kExecFailed);
    dup2(devNull, 0);
    dup2(devNull, 1);
    dup2(errors, 2);
    execlp("mksquashfs", "mksquashfs", directory.c_str(), imagePath.c_str(), "-noappend",
           "-all-root", "-no-progress", "-quiet", static_cast<char*>(nullptr));
    _exit(kExecFailed);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string fileText(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  while (!all.empty() && (all.back() == '\n' || all.back() == ' ')) all.pop_back();
  return all.substr(0, limit);
}

bool readImage(const std::string& path, std::string* image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *image = bytes.str();
  return !in.bad();
}

}  // namespace

bool makeSquashfsImage(const std::string& directory, std::string* image, std::string* error) {
  struct stat status;
  if (stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    *error = directory + ": not a directory";
    return false;
  }
  ScratchDir scratch;
  if (!scratch.ok()) {
    *error = directory + ": cannot make a temporary directory for the image: " + strerror(errno);
    return false;
  }
  int result = runMksquashfs(directory, scratch.imagePath(), scratch.errorPath());
  if (result == kExecFailed) {
    *error = directory + ": cannot run mksquashfs (install squashfs-tools)";
    return false;
  }
  if (result != 0) {
    std::string said = fileText(scratch.errorPath(), kMaxErrorText);
    *error = directory + ": mksquashfs failed with status " + std::to_string(result) +
             (said.empty() ? std::string() : ": " + said);
    return false;
  }
  if (!readImage(scratch.imagePath(), image)) {
    *error = directory + ": cannot read the image mksquashfs made";
    return false;
  }
  return true;
}

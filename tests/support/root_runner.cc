#include "support/root_runner.h"

#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/scratch_file.h"

namespace testing_support {
namespace {

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

[[noreturn]] void runChild(const std::string& root, const std::function<std::string()>& body,
                           const ScratchFile& value, const ScratchFile& out, const ScratchFile& err) {
  fflush(stdout);
  fflush(stderr);
  dup2(out.fd(), 1);
  dup2(err.fd(), 2);
  if (chroot(root.c_str()) != 0 || chdir("/") != 0) {
    perror("chroot");
    _exit(125);
  }
  std::string result = body();
  fflush(stdout);
  fflush(stderr);
  writeAll(value.fd(), result);
  _exit(0);
}

}  // namespace

bool canChroot() { return geteuid() == 0; }

RootRun runInRoot(const std::string& root, const std::function<std::string()>& body) {
  ScratchFile value, out, err;
  RootRun run;
  fflush(stdout);
  fflush(stderr);
  pid_t child = fork();
  if (child < 0) return run;
  if (child == 0) runChild(root, body, value, out, err);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return run;
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.value = value.readAll();
  run.output = out.readAll();
  run.errors = err.readAll();
  return run;
}

}  // namespace testing_support

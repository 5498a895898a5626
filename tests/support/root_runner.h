// Runs a piece of installer code inside a chroot of a temporary router
// root, in a forked child, so that code using the absolute router paths
// can be tested without touching the real system. Needs root.
#ifndef TESTS_SUPPORT_ROOT_RUNNER_H_
#define TESTS_SUPPORT_ROOT_RUNNER_H_

#include <functional>
#include <string>

namespace testing_support {

struct RootRun {
  // Exit status of the child: 0 when `body` returned, else the status
  // (or 128 + signal) it died with.
  int status = -1;
  // What `body` returned.
  std::string value;
  // What the child wrote to standard output and standard error.
  std::string output;
  std::string errors;
};

// True when this process may chroot (runs as root).
bool canChroot();

// Forks; the child chroots into `root`, changes to "/", runs `body` and
// hands its result back. The parent waits for the child.
RootRun runInRoot(const std::string& root, const std::function<std::string()>& body);

}  // namespace testing_support

#endif  // TESTS_SUPPORT_ROOT_RUNNER_H_

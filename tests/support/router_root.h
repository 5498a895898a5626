// A temporary router root for end-to-end tests, and a way to run a built
// program (the installer, the package tool) with arguments, environment
// and standard input, capturing what it prints and its exit status.
#ifndef TESTS_SUPPORT_ROUTER_ROOT_H_
#define TESTS_SUPPORT_ROUTER_ROOT_H_

#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

struct ProgramRun {
  int status = -1;  // exit status, or 128 + signal
  std::string output;
  std::string errors;
};

struct ProgramOptions {
  std::vector<std::string> arguments;         // without the program name
  std::map<std::string, std::string> environment;  // added to a clean one
  std::string input;                          // standard input
  bool inputFromFile = false;                 // seekable stdin instead of a pipe
  unsigned timeoutSeconds = 0;                // 0: no limit
};

// Runs `program` and waits for it. The environment holds PATH, the given
// variables and KESTAVIN_PLATFORM_SETTINGS pointing at a missing file
// unless the options set it.
ProgramRun runProgram(const std::string& program, const ProgramOptions& options);

// A router root with the directories every run expects.
class RouterRoot {
 public:
  RouterRoot();
  const std::string& path() const { return dir_.path(); }
  // Absolute host path of a path inside the root ("/flash/var/pdb/x").
  std::string host(const std::string& inside) const { return dir_.file(inside); }
  bool write(const std::string& inside, const std::string& content) const {
    return writeFile(host(inside), content);
  }
  std::string read(const std::string& inside) const { return readFile(host(inside)); }
  bool exists(const std::string& inside) const { return pathExists(host(inside)); }
  // Every path below the root with its type, size and content digest, one
  // line each: a snapshot to compare the whole tree before and after.
  std::string snapshot(const std::string& inside = "/") const;

  // Runs the installer with "-r <root>" in front of `arguments`.
  ProgramRun runInstaller(std::vector<std::string> arguments, ProgramOptions options = {}) const;
  // Runs the installer chrooted into the root (for --commit and --cancel,
  // which ignore "-r"), with the system's "/usr" bound read-only into it in
  // a private mount namespace that disappears with the child. A copy of
  // the program lies in the root for the length of the run. Needs root.
  // `environment` is added to the program's clean environment.
  ProgramRun runInstallerInside(std::vector<std::string> arguments,
                                const std::map<std::string, std::string>& environment = {}) const;

 private:
  TempDir dir_;
};

const char* installerBinary();
const char* npkBinary();
// The library that kills a preloading program at its N-th changing call.
const char* killAtCallLibrary();
// The development key pairs of the source tree ("keys/").
const char* developmentKeyDir();

}  // namespace testing_support

#endif  // TESTS_SUPPORT_ROUTER_ROOT_H_

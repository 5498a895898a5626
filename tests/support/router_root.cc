#include "support/router_root.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "support/scratch_file.h"

namespace testing_support {
namespace {

// The installer's copy in the root of a chroot run, removed after it.
const char kInstallerCopyName[] = ".installer-under-test";

std::vector<std::string> environmentFor(const ProgramOptions& options) {
  std::map<std::string, std::string> env = {
      {"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"},
      {"KESTAVIN_PLATFORM_SETTINGS", "/nonexistent/platform-settings"},
  };
  // A sanitizer build of the programs keeps the settings the tests run with,
  // and a dynamically linked build for another CPU, run under qemu-user,
  // the emulator's library prefix (scripts/cross-test --sweep).
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "QEMU_LD_PREFIX"}) {
    if (const char* value = getenv(name)) env[name] = value;
  }
  for (const auto& entry : options.environment) env[entry.first] = entry.second;
  std::vector<std::string> list;
  for (const auto& entry : env) list.push_back(entry.first + "=" + entry.second);
  return list;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> list;
  for (std::string& s : strings) list.push_back(&s[0]);
  list.push_back(nullptr);
  return list;
}

// Feeds `input` through a real pipe from a second child, so that the
// program sees a non-seekable standard input.
pid_t startFeeder(const std::string& input, int* readEnd) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t feeder = fork();
  if (feeder == 0) {
    close(fds[0]);
    size_t done = 0;
    while (done < input.size()) {
      ssize_t wrote = ::write(fds[1], input.data() + done, input.size() - done);
      if (wrote <= 0) break;
      done += static_cast<size_t>(wrote);
    }
    _exit(0);
  }
  close(fds[1]);
  *readEnd = fds[0];
  return feeder;
}

int waitFor(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Binds `from` read-only at the same path inside `root`.
bool bindReadOnly(const std::string& from, const std::string& root) {
  std::string to = root + from;
  return makeDirs(to) && mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
         mount(nullptr, to.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

// In the child: a private mount namespace with "/usr" bound read-only into
// the root, so that the dynamically linked installer can start there. Under
// qemu-user with a library prefix the prefix is bound too, at its own path,
// where the emulator looks for the CPU's loader and libraries.
bool enterRootWithLibraries(const std::string& root) {
  symlink("usr/lib", (root + "/lib").c_str());
  symlink("usr/lib64", (root + "/lib64").c_str());
  const char* prefix = getenv("QEMU_LD_PREFIX");
  return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         bindReadOnly("/usr", root) && (prefix == nullptr || bindReadOnly(prefix, root)) &&
         chroot(root.c_str()) == 0 && chdir("/") == 0;
}

}  // namespace

ProgramRun runProgram(const std::string& program, const ProgramOptions& options) {
  ScratchFile out, err, in;
  std::vector<std::string> args = {program};
  args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> env = environmentFor(options);
  std::vector<char*> argv = pointers(args), envp = pointers(env);
  int inputFd = -1;
  pid_t feeder = -1;
  if (options.inputFromFile) {
    in.write(options.input);
    inputFd = in.fd();
  } else {
    feeder = startFeeder(options.input, &inputFd);
  }
  ProgramRun run;
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    // A program that hangs ends with SIGALRM (status 142) instead of
    // hanging the tests.
    if (options.timeoutSeconds > 0) alarm(options.timeoutSeconds);
    dup2(inputFd, 0);
    dup2(out.fd(), 1);
    dup2(err.fd(), 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (feeder > 0) close(inputFd);
  run.status = waitFor(child);
  if (feeder > 0) waitFor(feeder);
  run.output = out.readAll();
  run.errors = err.readAll();
  return run;
}

RouterRoot::RouterRoot() {
  for (const char* dir : {"/flash/var/pdb", "/flash/boot", "/ram", "/rw/pckg/.download", "/tmp",
                          "/bin"}) {
    makeDirs(host(dir));
  }
}

std::string RouterRoot::snapshot(const std::string& inside) const {
  namespace fs = std::filesystem;
  std::vector<std::string> lines;
  std::error_code err;
  std::string base = host(inside);
  for (auto it = fs::recursive_directory_iterator(base, err); !err && it != fs::end(it);
       it.increment(err)) {
    std::string rel = it->path().string().substr(path().size());
    struct stat st;
    if (lstat(it->path().c_str(), &st) != 0) continue;
    std::string line = rel + " mode=" + std::to_string(st.st_mode);
    if (S_ISREG(st.st_mode)) {
      std::string content = readFile(it->path().string());
      line += " size=" + std::to_string(content.size()) + " hash=" +
              std::to_string(std::hash<std::string>()(content));
    } else if (S_ISLNK(st.st_mode)) {
      line += " link=" + fs::read_symlink(it->path(), err).string();
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

ProgramRun RouterRoot::runInstallerInside(std::vector<std::string> arguments,
                                          const std::map<std::string, std::string>& environment) const {
  ProgramRun run;
  ScratchFile out, err;
  // The program runs from a copy inside the root, by path: executing a
  // descriptor after chroot needs execveat or "/proc", and qemu-user,
  // which runs the tests of other CPUs, has neither there.
  const std::string inside = "/" + std::string(kInstallerCopyName);
  const std::string copy = path() + inside;
  std::error_code copyError;
  if (!std::filesystem::copy_file(installerBinary(), copy,
                                  std::filesystem::copy_options::overwrite_existing, copyError)) {
    return run;
  }
  arguments.insert(arguments.begin(), "installer");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  ProgramOptions options;
  options.environment = environment;
  std::vector<std::string> env = environmentFor(options);
  std::vector<char*> envp = pointers(env);
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    dup2(out.fd(), 1);
    dup2(err.fd(), 2);
    if (!enterRootWithLibraries(path())) _exit(125);
    execve(inside.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  bool waited = child > 0 && waitpid(child, &status, 0) == child;
  unlink(copy.c_str());
  if (!waited) return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.output = out.readAll();
  run.errors = err.readAll();
  return run;
}

ProgramRun RouterRoot::runInstaller(std::vector<std::string> arguments, ProgramOptions options) const {
  options.arguments = {"-r", path()};
  options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
  return runProgram(installerBinary(), options);
}

}  // namespace testing_support

namespace testing_support {
// INSTALLER_UNDER_TEST lets the same tests measure another build.
const char* installerBinary() {
  const char* other = getenv("INSTALLER_UNDER_TEST");
  return other != nullptr ? other : INSTALLER_BINARY;
}
const char* npkBinary() { return NPK_BINARY; }
const char* killAtCallLibrary() { return KILL_AT_CALL_LIBRARY; }
const char* developmentKeyDir() { return DEVELOPMENT_KEY_DIR; }
}  // namespace testing_support

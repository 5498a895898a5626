#include "simulation.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "file_io.h"
#include "router_root.h"
#include "platform/handles.h"
#include "version_text.h"

namespace {

const char kDownloadDir[] = "/rw/pckg/.download";
const char kSettingsEnv[] = "KESTAVIN_PLATFORM_SETTINGS";
const char kSettingsInRoot[] = "/rw/platform/settings";
const int kExecFailed = 127;

std::string systemFault(const std::string& what) { return what + ": " + strerror(errno); }

// A directory made for the simulation, removed (when empty) at the end.
class ScratchDir {
 public:
  ScratchDir() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/npk-simulate.XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    if (!path_.empty()) rmdir(path_.c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// One mount, released when the object goes away (lazily when busy).
class ScopedMount {
 public:
  ScopedMount(const char* source, const std::string& target, const char* type,
              const std::string& data)
      : target_(target) {
    mounted_ = mount(source, target.c_str(), type, 0, data.c_str()) == 0;
    if (!mounted_) error_ = errno;
  }
  ~ScopedMount() {
    if (mounted_ && umount(target_.c_str()) != 0) umount2(target_.c_str(), MNT_DETACH);
  }
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;
  bool mounted() const { return mounted_; }
  int error() const { return error_; }

 private:
  std::string target_;
  bool mounted_ = false;
  int error_ = 0;
};

// While it lives, SIGINT, SIGTERM and SIGHUP do not end npk before its
// mounts are released; the installer, which gets the default actions
// back when it starts, still ends on them.
class SignalShield {
 public:
  SignalShield() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = [](int) {};
    for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &action, &saved_[i]);
  }
  ~SignalShield() {
    for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }
  SignalShield(const SignalShield&) = delete;
  SignalShield& operator=(const SignalShield&) = delete;

 private:
  static constexpr size_t kCount = 3;
  static constexpr int kSignals[kCount] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction saved_[kCount];
};

constexpr int SignalShield::kSignals[];

struct ProgramRun {
  std::string output;
  int status = -1;
};

// Runs the installer with `arguments`, standard input from `input` (or
// /dev/null), standard output and error into one pipe. False when it
// cannot be started.
bool runInstaller(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& input, ProgramRun* run, std::string* error) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    *error = systemFault("pipe");
    return false;
  }
  Descriptor readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) {
    *error = systemFault("fork");
    return false;
  }
  if (child == 0) {
    int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(writeEnd.get(), 1) < 0 || dup2(writeEnd.get(), 2) < 0) {
      _exit(kExecFailed);
    }
    execvp(argv[0], argv.data());
    _exit(kExecFailed);
  }
  writeEnd.close();
  char chunk[4096];
  for (;;) {
    ssize_t got = read(readEnd.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run->output.append(chunk, size_t(got));
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool isWhiteout(const struct stat& status) {
  return S_ISCHR(status.st_mode) && major(status.st_rdev) == 0 && minor(status.st_rdev) == 0;
}

bool isOpaque(const std::string& path) {
  char value[4];
  ssize_t got = lgetxattr(path.c_str(), "trusted.overlay.opaque", value, sizeof value);
  return got == 1 && value[0] == 'y';
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  DirectoryReader reader(dir);
  std::string name;
  while (reader.isOpen() && reader.next(&name)) {
    if (name != "." && name != "..") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool sameContent(const std::string& a, const std::string& b) {
  std::string left, right, error;
  return readWholeFile(a, &left, &error) && readWholeFile(b, &right, &error) && left == right;
}

// Reads the upper layer against the lower one.
class LayerComparer {
 public:
  LayerComparer(const std::string& lower, const std::string& upper,
                const std::set<std::string>& ignored, std::vector<FileChange>* changes)
      : lower_(lower), upper_(upper), ignored_(ignored), changes_(changes) {}

  void compareDir(const std::string& inside) {
    std::set<std::string> seen;
    for (const std::string& name : namesIn(upper_ + inside)) {
      seen.insert(name);
      compareEntry(inside + "/" + name);
    }
    if (!inside.empty() && isOpaque(upper_ + inside)) {
      for (const std::string& name : namesIn(lower_ + inside)) {
        if (seen.count(name) == 0) removedBelow(inside + "/" + name);
      }
    }
  }

 private:
  void compareEntry(const std::string& inside) {
    struct stat up, low;
    if (lstat((upper_ + inside).c_str(), &up) != 0) return;
    bool inLower = lstat((lower_ + inside).c_str(), &low) == 0;
    if (isWhiteout(up)) {
      if (inLower) removedBelow(inside);
      return;
    }
    if (S_ISDIR(up.st_mode)) {
      if (inLower && !S_ISDIR(low.st_mode)) removed(inside, low);
      compareDir(inside);
      return;
    }
    if (ignored_.count(inside) != 0) return;
    if (inLower && S_ISDIR(low.st_mode)) {
      removedBelow(inside);
      inLower = false;
    }
    if (!inLower) {
      changes_->push_back({inside, "added", 0, uint64_t(up.st_size)});
    } else if (up.st_mode != low.st_mode || up.st_size != low.st_size ||
               !sameContent(upper_ + inside, lower_ + inside)) {
      changes_->push_back({inside, "replaced", uint64_t(low.st_size), uint64_t(up.st_size)});
    }
  }

  void removed(const std::string& inside, const struct stat& status) {
    changes_->push_back({inside, "removed", uint64_t(status.st_size), 0});
  }

  // Everything of the lower layer at and below `inside`.
  void removedBelow(const std::string& inside) {
    struct stat status;
    if (lstat((lower_ + inside).c_str(), &status) != 0) return;
    if (!S_ISDIR(status.st_mode)) return removed(inside, status);
    for (const std::string& name : namesIn(lower_ + inside)) removedBelow(inside + "/" + name);
  }

  std::string lower_, upper_;
  const std::set<std::string>& ignored_;
  std::vector<FileChange>* changes_;
};

bool makeDir(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  *error = systemFault("cannot create " + path);
  return false;
}

bool makeDirs(const std::string& base, const std::string& inside, std::string* error) {
  for (size_t slash = inside.find('/', 1); ; slash = inside.find('/', slash + 1)) {
    if (!makeDir(base + inside.substr(0, slash), error)) return false;
    if (slash == std::string::npos) return true;
  }
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The package files copied into the overlay's download directory; their
// paths inside the root go to *added.
bool addPackages(const std::string& merged, const std::vector<std::string>& packages,
                 std::set<std::string>* added, std::string* error) {
  if (packages.empty()) return true;
  if (!makeDirs(merged, kDownloadDir, error)) return false;
  for (const std::string& package : packages) {
    std::string bytes, inside = std::string(kDownloadDir) + "/" + baseName(package);
    if (!readWholeFile(package, &bytes, error) ||
        !writeOutputFile(merged + inside, bytes, error)) {
      return false;
    }
    added->insert(inside);
  }
  return true;
}

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// The first blank-separated word of `text` from `from` on; *end is where it ends.
std::string wordAt(const std::string& text, size_t from, size_t* end) {
  size_t begin = text.find_first_not_of(' ', std::min(from, text.size()));
  if (begin == std::string::npos) {
    *end = text.size();
    return std::string();
  }
  *end = std::min(text.find(' ', begin), text.size());
  return text.substr(begin, *end - begin);
}

int compareVersions(const std::string& a, const std::string& b) {
  PackageVersion left, right;
  std::string error;
  if (!parseVersionText(a, &left, &error) || !parseVersionText(b, &right, &error)) {
    return a == b ? 0 : 2;
  }
  return left < right ? -1 : left > right ? 1 : 0;
}

bool checkRoot(const std::string& root, std::string* error) {
  if (geteuid() != 0) {
    *error =
        "simulate needs root: it mounts an overlay of the router root and the installer changes "
        "its root directory (run npk simulate as root)";
    return false;
  }
  struct stat status;
  if (stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    *error = root + ": not a directory";
    return false;
  }
  if (root.find_first_of(",:\\") != std::string::npos) {
    *error = root + ": an overlay mount cannot name a directory with ',', ':' or '\\'";
    return false;
  }
  return true;
}

std::string absolute(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string text = resolved;
  free(resolved);
  return text;
}

// Runs the installer on the mounted overlay and fills *result.
bool runOnOverlay(const SimulationRequest& request, const std::string& merged,
                  const std::string& upper, SimulationResult* result, std::string* error) {
  std::set<std::string> added;
  if (!addPackages(merged, request.packages, &added, error)) return false;
  // The platform settings are the router's own, inside its root.
  const char* named = getenv(kSettingsEnv);
  if (named == nullptr || *named == '\0') {
    setenv(kSettingsEnv, (merged + kSettingsInRoot).c_str(), 1);
  }
  // So are its "arch" and "board", which a router's system gives the
  // installer in its environment; the caller's environment wins.
  std::string settings, unread;
  if (readWholeFile(getenv(kSettingsEnv), &settings, &unread)) {
    for (const auto& variable : platformEnvironment(settings)) {
      setenv(variable.first.c_str(), variable.second.c_str(), 0);
    }
  }
  ProgramRun before, run, after;
  if (!runInstaller(request.installer, {"-r", merged, "--show"}, "", &before, error)) return false;
  if (before.status == kExecFailed) {
    *error = "cannot run the installer '" + request.installer + "'";
    return false;
  }
  std::vector<std::string> arguments = {"-r", merged};
  if (!request.streamFile.empty()) arguments.push_back("-");
  if (!runInstaller(request.installer, arguments, request.streamFile, &run, error) ||
      !runInstaller(request.installer, {"-r", merged, "--show"}, "", &after, error)) {
    return false;
  }
  result->output = run.output;
  result->status = run.status;
  result->packages = packageChanges(parseListing(before.output), parseListing(after.output));
  LayerComparer(request.root, upper, added, &result->files).compareDir("");
  return true;
}

}  // namespace

bool simulateRun(const SimulationRequest& request, SimulationResult* result, std::string* error) {
  if (!checkRoot(request.root, error)) return false;
  if (!request.streamFile.empty() && access(request.streamFile.c_str(), R_OK) != 0) {
    *error = systemFault(request.streamFile + ": cannot open");
    return false;
  }
  // A mount namespace of our own: nothing mounted here is seen outside,
  // and it all goes away with the process whatever happens.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    *error = systemFault("cannot make a private mount namespace");
    return false;
  }
  SignalShield shield;
  ScratchDir scratch;
  if (scratch.path().empty()) {
    *error = systemFault("cannot make a scratch directory");
    return false;
  }
  ScopedMount scratchFs("tmpfs", scratch.path(), "tmpfs", "mode=0700");
  if (!scratchFs.mounted()) {
    *error = "cannot mount a tmpfs on " + scratch.path() + ": " + strerror(scratchFs.error());
    return false;
  }
  std::string upper = scratch.path() + "/upper", work = scratch.path() + "/work",
              merged = scratch.path() + "/root";
  if (!makeDir(upper, error) || !makeDir(work, error) || !makeDir(merged, error)) return false;
  // Without metadata-only copies and directory redirects, every changed
  // file of the upper layer holds its whole content and every directory
  // its own name, which is how the upper layer is read afterwards.
  ScopedMount overlay("overlay", merged, "overlay",
                      "lowerdir=" + absolute(request.root) + ",upperdir=" + upper +
                          ",workdir=" + work + ",redirect_dir=off,metacopy=off");
  if (!overlay.mounted()) {
    *error = "cannot mount an overlay of " + request.root + ": " + strerror(overlay.error());
    return false;
  }
  return runOnOverlay(request, merged, upper, result, error);
}

std::map<std::string, ListedPackage> parseListing(const std::string& table) {
  std::map<std::string, ListedPackage> packages;
  size_t lineNumber = 0;
  for (size_t start = 0; start < table.size(); ++lineNumber) {
    size_t end = table.find('\n', start);
    if (end == std::string::npos) end = table.size();
    std::string line = table.substr(start, end - start);
    start = end + 1;
    if (lineNumber < 2) continue;  // the header and the rule
    size_t nameEnd;
    std::string name = wordAt(line, 0, &nameEnd);
    if (name.empty() || nameEnd + 4 > line.size()) continue;
    ListedPackage package;
    package.disabled = line[nameEnd + 1] == 'X';
    package.bundled = line[nameEnd + 2] == 'B';
    size_t versionEnd, dayEnd, timeEnd;
    package.version = wordAt(line, nameEnd + 4, &versionEnd);
    std::string day = wordAt(line, versionEnd, &dayEnd);
    package.built = trimmed(day + " " + wordAt(line, dayEnd, &timeEnd));
    packages[name] = package;
  }
  return packages;
}

std::vector<PackageChange> packageChanges(const std::map<std::string, ListedPackage>& before,
                                          const std::map<std::string, ListedPackage>& after) {
  std::vector<PackageChange> changes;
  for (const auto& old : before) {
    auto now = after.find(old.first);
    if (now == after.end()) {
      changes.push_back({old.first, "removed", old.second.version, ""});
      continue;
    }
    const ListedPackage& a = old.second;
    const ListedPackage& b = now->second;
    int order = compareVersions(a.version, b.version);
    if (order != 0 || a.built != b.built) {
      const char* change = order < 0    ? "upgraded"
                           : order == 1 ? "downgraded"
                           : order == 0 ? "reinstalled"
                                        : "changed";
      changes.push_back({old.first, change, a.version, b.version});
    }
    if (a.disabled != b.disabled) {
      changes.push_back({old.first, b.disabled ? "disabled" : "enabled", a.version, b.version});
    }
  }
  for (const auto& now : after) {
    if (before.count(now.first) != 0) continue;
    changes.push_back({now.first, "installed", "", now.second.version});
    if (now.second.disabled) changes.push_back({now.first, "disabled", "", now.second.version});
  }
  return changes;
}

std::string defaultInstaller() {
  std::string buffer(4096, '\0');
  ssize_t got = readlink("/proc/self/exe", &buffer[0], buffer.size() - 1);
  if (got > 0) {
    std::string self = buffer.substr(0, size_t(got));
    std::string beside = self.substr(0, self.rfind('/') + 1) + "installer";
    if (access(beside.c_str(), X_OK) == 0) return beside;
    // Where the Debian package puts it: out of PATH, so that it cannot be
    // taken for another program called "installer".
    std::string dir = self.substr(0, self.rfind('/'));
    std::string packaged = dir.substr(0, dir.rfind('/') + 1) + "libexec/kestavin/installer";
    if (access(packaged.c_str(), X_OK) == 0) return packaged;
  }
  return "installer";
}

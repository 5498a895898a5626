// The interruption sweep: the real installer, killed with SIGKILL just
// before and just after its N-th call that changes a file, for N = 1, 2, ...
// until a run completes, in six scenarios; after each kill the next run is
// started as the system would start it on the next boot. Every point must
// end with every package wholly old or wholly new (its database entry and
// every file it owns, byte for byte), no staged file, journal or phantom
// entry left, and the post-install log's old lines kept.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "support/install_testing.h"
#include "support/router_root.h"
#include "support/scoped_tmpfs.h"

namespace testing_support {
namespace {

using namespace install_testing;

const PackageVersion kV1 = finalVersion(7, 1);
const PackageVersion kV2 = finalVersion(7, 2);
const char kOldLog[] = "old message 1\nold message 2\n";
const char kPreloadInside[] = "/kill_at_call.so";

std::string versionTag(PackageVersion version) { return version == kV1 ? "one" : "two"; }

std::string webFile(PackageVersion version) {
  std::vector<FileTreeEntry> files = {fileEntry("/bin/web", "web binary " + versionTag(version), 0100755),
                                      fileEntry("/www/web/index.html", "index " + versionTag(version))};
  if (version == kV1) files.push_back(fileEntry("/www/web/old.js", "dropped by the upgrade"));
  if (version == kV2) files.push_back(fileEntry("/www/web/new.css", "added by the upgrade"));
  return packageFile(packageSpec("web", version, files));
}

std::string simplePackage(const std::string& name, const std::vector<std::string>& paths) {
  std::vector<FileTreeEntry> files;
  for (const std::string& path : paths) files.push_back(fileEntry(path, name + " at " + path));
  return packageFile(packageSpec(name, kV1, files));
}

// Which package owns a path of the snapshot: every path below one of its
// prefixes.
typedef std::map<std::string, std::vector<std::string>> Owners;

const Owners& owners() {
  static const Owners all = {
      {"base", {"/flash/lib/base.so", "/flash/var/pdb/base"}},
      {"web", {"/flash/bin/web", "/flash/www/web", "/flash/var/pdb/web"}},
      {"tool", {"/flash/bin/tool", "/flash/lib/tool.so", "/flash/var/pdb/tool"}},
      {"extra", {"/flash/etc/extra.conf", "/flash/var/pdb/extra"}},
      {"gone", {"/flash/www/gone", "/flash/bin/gone", "/flash/var/pdb/gone"}},
      {"foo", {"/flash/big.bin", "/flash/var/pdb/foo"}},
      {"up", {"/flash/blob", "/flash/ver", "/flash/var/pdb/up"}},
      {"devbig", {"/flash/huge.bin", "/flash/var/pdb/devbig"}},
  };
  return all;
}

std::string ownerOf(const std::string& path) {
  for (const auto& owner : owners()) {
    for (const std::string& prefix : owner.second) {
      if (path.compare(0, prefix.size(), prefix) == 0 &&
          (path.size() == prefix.size() || path[prefix.size()] == '/')) {
        return owner.first;
      }
    }
  }
  return std::string();
}

// The snapshot of "/flash" split by owner ("" for the rest); the log and
// the changed-packages marker are judged apart.
std::map<std::string, std::string> partsOf(const RouterRoot& root) {
  std::map<std::string, std::string> parts;
  for (const auto& owner : owners()) parts[owner.first];
  std::istringstream lines(root.snapshot("/flash"));
  std::string line;
  while (std::getline(lines, line)) {
    std::string path = line.substr(0, line.find(" mode="));
    if (path == "/flash/postlog" || path == "/flash/PCKGS_CHANGED") continue;
    parts[ownerOf(path)] += line + "\n";
  }
  return parts;
}

bool isDebris(const std::string& name) {
  return (name.size() == 9 && name.compare(0, 3, "tmp") == 0) ||
         name.find(".commit-copy") != std::string::npos || name.compare(0, 8, ".journal") == 0;
}

struct Scenario {
  typedef std::function<ProgramRun(const RouterRoot&, const std::map<std::string, std::string>&)> Run;
  Scenario(std::string name, std::function<void(const RouterRoot&)> prepare, Run run,
           std::function<void(const RouterRoot&)> nextRun)
      : name(std::move(name)), prepare(std::move(prepare)), run(std::move(run)), nextRun(std::move(nextRun)) {}

  std::string name;
  // Brings a fresh root into the old state (uninterrupted runs).
  std::function<void(const RouterRoot&)> prepare;
  // The run that is interrupted.
  std::function<ProgramRun(const RouterRoot&, const std::map<std::string, std::string>&)> run;
  // What the system starts next.
  std::function<void(const RouterRoot&)> nextRun;
  bool smallFlash = false;
  // "/ram" is emptied after the kill, as a power cut empties it.
  bool ramLost = false;
  // A flash of its own of this size, as full as the old state leaves it.
  std::string flashSize;
  // The run is refused for lack of room: the new state is the old one.
  bool refused = false;
};

// Bytes that differ from seed to seed and do not repeat.
std::string noise(size_t size, char seed) {
  std::string bytes(size, '\0');
  uint32_t state = static_cast<unsigned char>(seed) * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

ProgramRun installRun(const RouterRoot& root, const std::map<std::string, std::string>& environment) {
  ProgramOptions options;
  options.environment = environment;
  return root.runInstaller({}, options);
}

// The three runs of a full flash: a replacement that fits only by reusing
// the old file's space, an upgrade that grows on a tight flash, and a
// package larger than the flash.
void addFullFlashScenarios(std::vector<Scenario>* all);

ProgramRun streamRun(const RouterRoot& root, const std::string& bytes,
                     const std::map<std::string, std::string>& environment) {
  ProgramOptions options;
  options.input = bytes;
  options.environment = environment;
  return root.runInstaller({"-"}, options);
}

void bootRun(const RouterRoot& root) { root.runInstaller({}); }

void installedBaseAndWeb(const RouterRoot& root) {
  streamRun(root, simplePackage("base", {"/lib/base.so"}), {});
  streamRun(root, webFile(kV1), {});
}

void withOldLog(const RouterRoot& root) { root.write("/flash/postlog", kOldLog); }

std::vector<Scenario> scenarios() {
  std::vector<Scenario> all;
  auto streamUpgrade = [](const RouterRoot& root, const std::map<std::string, std::string>& env) {
    return streamRun(root, webFile(kV2), env);
  };
  all.push_back({"stream upgrade",
                 [](const RouterRoot& root) {
                   installedBaseAndWeb(root);
                   withOldLog(root);
                 },
                 streamUpgrade, bootRun});
  auto withCandidates = [](const RouterRoot& root) {
    installedBaseAndWeb(root);
    root.write("/rw/pckg/.download/web.npk", webFile(kV2));
    root.write("/rw/pckg/.download/tool.npk", simplePackage("tool", {"/bin/tool", "/lib/tool.so"}));
    root.write("/rw/pckg/.download/extra.npk", simplePackage("extra", {"/etc/extra.conf"}));
    withOldLog(root);
  };
  all.push_back({"install run", withCandidates,
                 [](const RouterRoot& root, const std::map<std::string, std::string>& env) {
                   ProgramOptions options;
                   options.environment = env;
                   return root.runInstaller({}, options);
                 },
                 bootRun});
  all.push_back({"safe run then commit", withCandidates,
                 [](const RouterRoot& root, const std::map<std::string, std::string>& env) {
                   ProgramOptions options;
                   options.environment = env;
                   return root.runInstaller({"--safe"}, options);
                 },
                 [](const RouterRoot& root) { root.runInstallerInside({"--commit"}); }});
  all.push_back({"commit",
                 [withCandidates](const RouterRoot& root) {
                   withCandidates(root);
                   root.runInstaller({"--safe"});
                 },
                 [](const RouterRoot& root, const std::map<std::string, std::string>& env) {
                   return root.runInstallerInside({"--commit"}, env);
                 },
                 bootRun});
  Scenario full{"stream upgrade, flash nearly full",
                [](const RouterRoot& root) {
                  installedBaseAndWeb(root);
                  withOldLog(root);
                },
                streamUpgrade, bootRun};
  full.smallFlash = true;
  all.push_back(full);
  full.name = "stream upgrade, flash nearly full, /ram lost";
  full.ramLost = true;
  all.push_back(full);
  all.push_back({"scheduled uninstall",
                 [](const RouterRoot& root) {
                   installedBaseAndWeb(root);
                   streamRun(root, simplePackage("gone", {"/bin/gone", "/www/gone/page.html"}), {});
                   root.write("/ram/pdb/gone/schedule", "uninstall\n");
                   withOldLog(root);
                 },
                 [](const RouterRoot& root, const std::map<std::string, std::string>& env) {
                   ProgramOptions options;
                   options.environment = env;
                   return root.runInstaller({}, options);
                 },
                 bootRun});
  addFullFlashScenarios(&all);
  return all;
}

// The next boot installs what is still in the download directory; a commit
// leaves what it copied from "/ram" there until the run after it, which
// --show stands for.
void bootRunThenShow(const RouterRoot& root) {
  bootRun(root);
  root.runInstaller({"--show"});
}

void addFullFlashScenarios(std::vector<Scenario>* all) {
  Scenario reuse{"replacement by reuse, flash full",
                 [](const RouterRoot& root) {
                   streamRun(root, packageFile(packageSpec("foo", kV1, {fileEntry("/big.bin", noise(160u << 10, '1'))})), {});
                   root.write("/rw/pckg/.download/foo.npk",
                              packageFile(packageSpec("foo", kV2, {fileEntry("/big.bin", noise(160u << 10, '2'))})));
                   withOldLog(root);
                 },
                 installRun, bootRunThenShow};
  reuse.flashSize = "256k";
  all->push_back(reuse);
  Scenario grows{"upgrade that grows, flash tight",
                 [](const RouterRoot& root) {
                   streamRun(root, packageFile(packageSpec("up", kV1, {fileEntry("/blob", noise(100u << 10, '1')),
                                                                        fileEntry("/ver", "v1")})), {});
                   root.write("/rw/pckg/.download/up.npk",
                              packageFile(packageSpec("up", kV2, {fileEntry("/blob", noise(180u << 10, '2')),
                                                                   fileEntry("/ver", "v2")})));
                   withOldLog(root);
                 },
                 installRun, bootRunThenShow};
  grows.flashSize = "288k";
  all->push_back(grows);
  Scenario larger{"package larger than the flash",
                  [](const RouterRoot& root) {
                    streamRun(root, simplePackage("base", {"/lib/base.so"}), {});
                    withOldLog(root);
                  },
                  [](const RouterRoot& root, const std::map<std::string, std::string>& env) {
                    return streamRun(root, packageFile(packageSpec("devbig", kV1, {fileEntry("/huge.bin", noise(600u << 10, '3'))})),
                                     env);
                  },
                  bootRun};
  larger.flashSize = "256k";
  larger.refused = true;
  all->push_back(larger);
}

void copyTree(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                         fs::copy_options::overwrite_existing);
}

// One root in the scenario's old state, built from the template; on a
// nearly full flash of its own when the scenario asks for it.
class PointRoot {
 public:
  PointRoot(const std::string& templatePath, bool smallFlash, const std::string& flashSize = std::string())
      : disk_(new ScopedTmpfs(root.path(), "16m")) {
    // In memory, so that the many flushes cost nothing; the small flash
    // and "/ram" are file systems of their own.
    if (smallFlash || !flashSize.empty()) {
      ram_.reset(new ScopedTmpfs(root.host("/ram"), "2m"));
      flash_.reset(new ScopedTmpfs(root.host("/flash"), flashSize.empty() ? "512k" : flashSize));
    }
    copyTree(templatePath, root.path());
    copyTree(killAtCallLibrary(), root.host(kPreloadInside));
    if (smallFlash) fill();
  }
  bool ready() const { return disk_->mounted() && (!flash_ || flash_->mounted()); }

  RouterRoot root;

 private:
  // Leaves about 40 KiB: less than any staged file needs next to its
  // target (its size and 64 KiB), so every one is staged in "/ram".
  void fill() {
    struct statfs stats;
    if (statfs(root.host("/flash").c_str(), &stats) != 0) return;
    uint64_t free = static_cast<uint64_t>(stats.f_bfree) * stats.f_bsize;
    uint64_t keep = 40 * 1024;
    if (free > keep + 4096) writeFile(root.host("/flash/filler"), std::string(free - keep - 4096, 'f'));
  }

  std::unique_ptr<ScopedTmpfs> disk_, ram_, flash_;
};

void emptyRam(const RouterRoot& root) {
  for (const auto& entry : std::filesystem::directory_iterator(root.host("/ram"))) {
    std::filesystem::remove_all(entry.path());
  }
}

struct Tally {
  int points = 0;
  int old = 0;
  int fresh = 0;
  int wholeMixed = 0;
  // Broken points by what is wrong (a point may count in several).
  int mixedPackage = 0, leftBehind = 0, logLost = 0;
  std::vector<std::string> failures;
};

// Judges one root after the next run against the old and new states.
void judge(const RouterRoot& root, const std::map<std::string, std::string>& old,
           const std::map<std::string, std::string>& fresh, const std::string& point, Tally* tally) {
  std::map<std::string, std::string> now = partsOf(root);
  std::string problems;
  int oldCount = 0, newCount = 0;
  for (const auto& part : now) {
    if (part.first.empty()) continue;
    bool isOld = part.second == old.at(part.first);
    bool isNew = part.second == fresh.at(part.first);
    if (isOld) ++oldCount;
    if (isNew) ++newCount;
    if (!isOld && !isNew) problems += "package " + part.first + " is mixed:\n" + part.second;
  }
  // A safe-mode run's staged files stay while its manifest names them.
  std::string manifest = root.read("/ram/MANIFEST");
  std::istringstream rest(now[""]);
  std::string line;
  std::string allowed = old.at("") + fresh.at("");
  while (std::getline(rest, line)) {
    std::string path = line.substr(0, line.find(" mode="));
    std::string name = path.substr(path.find_last_of('/') + 1);
    bool named = manifest.find(" " + path + "\n") != std::string::npos;
    if ((isDebris(name) && !named) || allowed.find(line + "\n") == std::string::npos) {
      problems += "left behind: " + line + "\n";
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(root.host("/ram"))) {
    std::string name = entry.path().filename().string();
    if (isDebris(name) && manifest.find("/ram/" + name) == std::string::npos) {
      problems += "left in /ram: " + name + "\n";
    }
  }
  // Messages of the run printed before the log is loaded come first.
  if (root.read("/flash/postlog").find(kOldLog) == std::string::npos) {
    problems += "old log lines lost: " + root.read("/flash/postlog") + "\n";
  }
  ++tally->points;
  if (problems.find(" is mixed") != std::string::npos) ++tally->mixedPackage;
  if (problems.find("left ") != std::string::npos) ++tally->leftBehind;
  if (problems.find("old log lines lost") != std::string::npos) ++tally->logLost;
  if (!problems.empty()) {
    tally->failures.push_back(point + ":\n" + problems);
  } else if (oldCount == static_cast<int>(old.size()) - 1) {
    ++tally->old;
  } else if (newCount == static_cast<int>(old.size()) - 1) {
    ++tally->fresh;
  } else {
    ++tally->wholeMixed;
  }
}

class InterruptionSweep : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot and mounts";
    if (!canSignTrustedPackages()) GTEST_SKIP() << "the build does not trust the development keys";
  }
};

TEST_P(InterruptionSweep, EveryPointEndsWhole) {
  Scenario scenario = scenarios()[GetParam()];
  RouterRoot base;
  scenario.prepare(base);
  PointRoot reference(base.path(), scenario.smallFlash, scenario.flashSize);
  ASSERT_TRUE(reference.ready()) << "cannot mount the small flash";
  std::map<std::string, std::string> old = partsOf(reference.root);
  ProgramRun complete = scenario.run(reference.root, {});
  ASSERT_NE(137, complete.status);
  scenario.nextRun(reference.root);
  std::map<std::string, std::string> fresh = partsOf(reference.root);
  if (scenario.refused) {
    ASSERT_EQ(old, fresh) << "the refused run changed the system:\n" << complete.output;
  } else {
    ASSERT_NE(old, fresh) << "the scenario changes nothing:\n" << complete.output << complete.errors;
  }

  Tally tally;
  for (const char* when : {"before", "after"}) {
    for (int call = 1;; ++call) {
      PointRoot point(base.path(), scenario.smallFlash, scenario.flashSize);
      ASSERT_TRUE(point.ready());
      std::map<std::string, std::string> env = {{"KILL_AT_CALL", std::to_string(call)},
                                                {"KILL_WHEN", when},
                                                {"LD_PRELOAD", scenario.name == "commit"
                                                                   ? kPreloadInside
                                                                   : killAtCallLibrary()}};
      ProgramRun run = scenario.run(point.root, env);
      if (run.status != 128 + SIGKILL) {
        // A program that no preload reaches (linked statically, as the
        // builds for other CPUs are) runs to its end at once. Where the
        // sweep is asked for (scripts/cross-test --sweep), that fails.
        if (call == 1 && tally.points == 0) {
          ASSERT_EQ(nullptr, getenv("INTERRUPTION_SWEEP_REQUIRED"))
              << "the preloaded library does not reach the installer under test:\n"
              << run.output << run.errors;
          GTEST_SKIP() << "the installer under test cannot be interrupted through a preloaded "
                          "library (is it linked statically?)";
        }
        break;  // the run completed: the sweep is done
      }
      if (scenario.ramLost) emptyRam(point.root);
      scenario.nextRun(point.root);
      std::string name = std::string("killed ") + when + " call " + std::to_string(call);
      int oldBefore = tally.old;
      judge(point.root, old, fresh, name, &tally);
      if (scenario.ramLost && tally.old > oldBefore) {
        // What could not be finished is installed by the next attempt.
        scenario.run(point.root, {});
        scenario.nextRun(point.root);
        if (partsOf(point.root) != fresh) tally.failures.push_back(name + ": not repaired\n");
      }
      ASSERT_LT(call, 5000) << "the run never completes";
    }
  }
  std::cout << "[ sweep    ] " << scenario.name << ": " << tally.points << " points, " << tally.old
            << " old, " << tally.fresh << " new, " << tally.wholeMixed << " whole packages mixed, "
            << tally.failures.size() << " broken (" << tally.mixedPackage << " with a mixed package, "
            << tally.leftBehind << " with debris, " << tally.logLost << " with old log lines lost)"
            << std::endl;
  EXPECT_TRUE(tally.failures.empty()) << tally.failures.size() << " points broken; the first:\n"
                                      << tally.failures.front() << "the last:\n"
                                      << tally.failures.back();
}

std::string scenarioName(const ::testing::TestParamInfo<int>& info) {
  static const char* const names[] = {"StreamUpgrade",   "InstallRun",         "SafeRunThenCommit",
                                      "Commit",          "FlashNearlyFull",    "FlashNearlyFullRamLost",
                                      "ScheduledUninstall", "ReplacementByReuse",
                                      "UpgradeThatGrows",    "PackageLargerThanTheFlash"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Scenarios, InterruptionSweep, ::testing::Range(0, 10), scenarioName);

}  // namespace
}  // namespace testing_support

// End-to-end runs of the scheduled actions: a router root with database
// entries and schedule files, the installer run on it without any package
// file, and the database, the installed files and the messages checked
// afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "support/router_root.h"

namespace testing_support {
namespace {

using Lines = std::vector<std::string>;

const char kDatabase[] = "/flash/var/pdb/";
const char kVersionOne[] = "16777216 0\n";  // 1.0, built at 0

std::string entryDir(const std::string& name) { return kDatabase + name + "/"; }
std::string installedFile(const std::string& name) { return "/flash/" + name + "/" + name + ".bin"; }

// A database entry as descriptive files: version 1.0, the given
// dependencies and conflicts (one name each, unbounded), one installed
// file that exists.
void addEntry(const RouterRoot& root, const std::string& name, const std::string& needs = "",
              const std::string& forbids = "") {
  const std::string dir = entryDir(name);
  root.write(dir + "version", kVersionOne);
  root.write(dir + "deps", needs.empty() ? "" : needs + " 0 0\n");
  if (!forbids.empty()) root.write(dir + "conflicts", forbids + " 0 0\n");
  root.write(dir + "files", installedFile(name).substr(1) + "\n");
  root.write(installedFile(name), name + " binary\n");
}

void setDisabled(const RouterRoot& root, const std::string& name, const std::string& choice) {
  root.write(entryDir(name) + "disabled", choice + "\n");
}

void schedule(const RouterRoot& root, const std::string& name, const std::string& action) {
  root.write("/ram/pdb/" + name + "/schedule", action + "\n");
}

Lines lines(const std::string& text) {
  Lines result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

Lines sorted(Lines list) {
  std::sort(list.begin(), list.end());
  return list;
}

class ScheduleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
  }

  // Runs the installer on `root` and returns the messages it logged; every
  // one of them must also have been printed.
  Lines run(const RouterRoot& root, std::vector<std::string> arguments = {}) {
    ProgramRun result = root.runInstaller(arguments);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("", result.errors);
    Lines logged = root.exists("/flash/postlog") ? lines(root.read("/flash/postlog")) : Lines();
    for (const std::string& line : logged) {
      EXPECT_NE(std::string::npos, result.output.find(line + "\n")) << line;
    }
    output = result.output;
    return logged;
  }

  std::string output;
};

TEST_F(ScheduleRun, UninstallOfANeededPackageIsRefused) {
  RouterRoot root;
  addEntry(root, "lib");
  addEntry(root, "app", "lib");
  schedule(root, "lib", "uninstall");
  const std::string before = root.snapshot("/flash");
  EXPECT_EQ(Lines{"WARNING: can not uninstall lib-1.0: app depends on it"}, run(root));
  unlink(root.host("/flash/postlog").c_str());
  EXPECT_EQ(before, root.snapshot("/flash"));
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
}

TEST_F(ScheduleRun, EnablingFollowsTheChainOfDisabledDependencies) {
  RouterRoot root;
  addEntry(root, "app", "lib");
  addEntry(root, "lib", "base");
  addEntry(root, "base");
  for (const char* name : {"app", "lib", "base"}) setDisabled(root, name, "auto");
  schedule(root, "app", "enable");
  EXPECT_EQ((Lines{"enabled base-1.0", "enabled lib-1.0", "enabled app-1.0"}), run(root));
  for (const char* name : {"app", "lib", "base"}) {
    EXPECT_FALSE(root.exists(entryDir(name) + "disabled")) << name;
  }
  // Only the package the user asked for is enabled by choice.
  EXPECT_EQ("user\n", root.read(entryDir("app") + "enabled"));
  EXPECT_FALSE(root.exists(entryDir("lib") + "enabled"));
  EXPECT_FALSE(root.exists(entryDir("base") + "enabled"));
}

TEST_F(ScheduleRun, DisableOfANeededPackageIsRefused) {
  RouterRoot root;
  addEntry(root, "lib");
  addEntry(root, "app", "lib");
  schedule(root, "lib", "disable");
  const std::string before = root.snapshot(kDatabase);
  EXPECT_EQ(Lines{"WARNING: can not disable lib-1.0: app depends on it"}, run(root));
  EXPECT_EQ(before, root.snapshot(kDatabase));
}

TEST_F(ScheduleRun, UninstallTakesDisabledDependentsAlong) {
  RouterRoot root;
  addEntry(root, "lib");
  addEntry(root, "app", "lib");
  setDisabled(root, "app", "user");
  addEntry(root, "sys");
  schedule(root, "lib", "uninstall");
  EXPECT_EQ(Lines(), run(root));
  for (const char* name : {"lib", "app"}) {
    EXPECT_FALSE(root.exists(entryDir(name))) << name;
    EXPECT_FALSE(root.exists(installedFile(name))) << name;
  }
  EXPECT_TRUE(root.exists(entryDir("sys") + "version"));
  EXPECT_TRUE(root.exists(installedFile("sys")));
  // Nothing was printed, so nothing was logged.
  EXPECT_FALSE(root.exists("/flash/postlog"));
}

std::string withoutHidden(const std::string& snapshot) {
  std::istringstream lines(snapshot);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.compare(0, 16, "/flash/var/pdb/.") != 0) kept += line + "\n";
  }
  return kept;
}

TEST_F(ScheduleRun, SafeModeLeavesTheScheduleInTheManifest) {
  RouterRoot root;
  addEntry(root, "lib");
  addEntry(root, "sys");
  schedule(root, "lib", "uninstall");
  const std::string before = root.snapshot(kDatabase);
  EXPECT_EQ(Lines(), run(root, {"--safe"}));
  // The run's staged files wait in the hidden staging directory, which is
  // no entry; the entries themselves are untouched.
  std::string after = root.snapshot(kDatabase);
  EXPECT_NE(std::string::npos, after.find("/flash/var/pdb/.staging/tmp"));
  EXPECT_EQ(before, withoutHidden(after));
  EXPECT_TRUE(root.exists(installedFile("lib")));
  const std::string manifest = root.read("/ram/MANIFEST");
  EXPECT_NE(std::string::npos, manifest.find("U /flash/lib/lib.bin\nU /flash/var/pdb/lib/\n"))
      << manifest;
}

// "new" forbids "old"; "tools" and "webui" need "old", "webui" enabled by
// the user's choice; "new" is scheduled for enabling.
void conflictingRoot(const RouterRoot& root) {
  addEntry(root, "new", "", "old");
  setDisabled(root, "new", "auto");
  addEntry(root, "old");
  addEntry(root, "tools", "old");
  addEntry(root, "webui", "old");
  root.write(entryDir("webui") + "enabled", "user\n");
  schedule(root, "new", "enable");
}

TEST_F(ScheduleRun, EnablingAConflictingPackageDisablesTheOtherAndItsDependents) {
  RouterRoot root;
  conflictingRoot(root);
  Lines logged = run(root);
  // Disablings come in reverse database order (directory order), then the
  // enabling.
  ASSERT_EQ(4u, logged.size());
  EXPECT_EQ("enabled new-1.0", logged.back());
  EXPECT_EQ((Lines{"disabled old-1.0", "disabled tools-1.0", "disabled webui-1.0", "enabled new-1.0"}),
            sorted(logged));
  EXPECT_EQ("auto\n", root.read(entryDir("old") + "disabled"));
  // Disabled because what it needs went away: automatic, unless the
  // state was the user's choice.
  EXPECT_EQ("auto\n", root.read(entryDir("tools") + "disabled"));
  EXPECT_EQ("user\n", root.read(entryDir("webui") + "disabled"));
  EXPECT_FALSE(root.exists(entryDir("webui") + "enabled"));
  EXPECT_FALSE(root.exists(entryDir("new") + "disabled"));
  EXPECT_EQ("user\n", root.read(entryDir("new") + "enabled"));
  // Disabling keeps the installed files.
  EXPECT_TRUE(root.exists(installedFile("old")));
}

TEST_F(ScheduleRun, AQuietRunDecidesTheSame) {
  RouterRoot loud, quiet;
  conflictingRoot(loud);
  conflictingRoot(quiet);
  EXPECT_EQ(4u, run(loud).size());
  EXPECT_EQ(Lines(), run(quiet, {"-q"}));
  EXPECT_EQ("", output);
  EXPECT_EQ(loud.snapshot(kDatabase), quiet.snapshot(kDatabase));
}

TEST_F(ScheduleRun, DisablingABundleDisablesItsMembersAndKeepsItsImage) {
  RouterRoot root;
  // The bundle's kept image describes the bundle and both members.
  PackageWriter image;
  PackageInfo bundle("routing");
  bundle.isBundle = true;
  bundle.version = 0x01000000;
  image.addDescription(bundle);
  for (const char* name : {"bgp", "ospf"}) {
    PackageInfo member(name);
    member.version = 0x01000000;
    image.addDescription(member);
    makeDirs(root.host(entryDir(name)));
  }
  root.write(entryDir("routing") + "image", image.bytes());
  addEntry(root, "sys");
  schedule(root, "routing", "disable");
  EXPECT_EQ((Lines{"disabled bgp-1.0", "disabled ospf-1.0", "disabled routing-1.0"}),
            sorted(run(root)));
  EXPECT_EQ("user\n", root.read(entryDir("routing") + "disabled"));
  EXPECT_EQ("auto\n", root.read(entryDir("bgp") + "disabled"));
  EXPECT_EQ("auto\n", root.read(entryDir("ospf") + "disabled"));
  EXPECT_TRUE(root.exists(entryDir("sys") + "version"));
  // The kept image still describes the members: a later run, with nothing
  // scheduled, keeps all three, disabled.
  root.write("/ram/pdb/routing/schedule", "");
  unlink(root.host("/flash/postlog").c_str());
  EXPECT_EQ(Lines{}, run(root));
  for (const char* name : {"routing", "bgp", "ospf"}) {
    EXPECT_TRUE(root.exists(entryDir(name) + "disabled")) << name;
  }
  EXPECT_TRUE(root.exists(entryDir("routing") + "image"));
}

TEST_F(ScheduleRun, UninstallingEverythingIsRefused) {
  RouterRoot root;
  addEntry(root, "sys");
  addEntry(root, "lib");
  schedule(root, "sys", "uninstall");
  schedule(root, "lib", "uninstall");
  const std::string before = root.snapshot("/flash");
  EXPECT_EQ(Lines{"ERROR: can not uninstall or disable all packages"}, run(root));
  unlink(root.host("/flash/postlog").c_str());
  EXPECT_EQ(before, root.snapshot("/flash"));
}

}  // namespace
}  // namespace testing_support

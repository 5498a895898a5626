// The database writer stages entries that the loader reads back as they
// were written; every file format is checked byte for byte.
#include "pdb/database_writer.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include "commit/change_set.h"
#include "pdb/package_db.h"
#include "support/scoped_tmpfs.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace testing_support {
namespace {

const char kEntry[] = "/flash/var/pdb/routing/";

Package routing() {
  Package package("routing");
  package.version = 0x07010000;
  package.buildTime = 1700000000;
  package.depends = {PackageRef("system", 0x07000000, 0)};
  package.provides = {PackageRef("router", 1, 0, -1)};
  package.conflicts = {PackageRef("oldrouting", 0, 0x06000000)};
  package.files = {"/flash/lib/routing.so", "//flash/odd"};
  return package;
}

// Describes a record as the loader sees it, for comparing a round trip.
std::string describe(const Package& p) {
  std::string text = p.name + " v" + std::to_string(p.version) + " t" + std::to_string(p.buildTime) +
                     (p.isBundle ? " bundle" : "") + (p.disabled ? " disabled" : "") +
                     (p.userChoice ? " user" : "") + " b=" + p.bundle.name + " a" +
                     std::to_string(p.action);
  for (const auto* list : {&p.depends, &p.provides, &p.conflicts}) {
    text += " [";
    for (const PackageRef& r : *list) {
      text += r.name + " " + std::to_string(r.minVersion) + " " + std::to_string(r.maxVersion) +
              " " + std::to_string(r.priority) + ";";
    }
    text += "]";
  }
  for (const std::string& f : p.files) text += " " + f;
  return text;
}

class DatabaseWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canChroot()) GTEST_SKIP() << "needs root for chroot";
    for (const char* dir : {"/flash/var/pdb", "/ram", "/tmp"}) makeDirs(root.file(dir));
  }
  // Stages with `body` in a chrooted child, commits, and returns what the
  // body returned, then " | " and the record loaded back from the entry.
  std::string stageAndReload(const std::function<std::string(ChangeSet&)>& body) {
    RootRun run = runInRoot(root.path(), [&] {
      ChangeSet changes;
      std::string value = body(changes);
      changes.commit(false);
      Package loaded("routing");
      loaded.loadState();
      return value + " | " + describe(loaded);
    });
    EXPECT_EQ(0, run.status) << run.errors;
    return run.value;
  }
  std::string entryFile(const std::string& name) { return readFile(root.file(kEntry + name)); }

  TempDir root;
};

TEST_F(DatabaseWriter, FullEntryIsWrittenExactlyAndReadsBack) {
  Package package = routing();
  package.bundle = PackageRef("suite", 0x07010000, 0x07010000);
  package.disabled = true;
  package.userChoice = true;
  std::string result = stageAndReload([&](ChangeSet& changes) {
    return std::to_string(writeDatabaseEntry(package, changes));
  });
  EXPECT_EQ("117506048 1700000000\n", entryFile("version"));
  EXPECT_EQ("system 117440512 0\n", entryFile("deps"));
  EXPECT_EQ("router 1 0 -1\n", entryFile("provides"));
  EXPECT_EQ("oldrouting 0 100663296\n", entryFile("conflicts"));
  EXPECT_EQ("suite\n", entryFile("bundle"));
  EXPECT_EQ("/flash/odd\nflash/lib/routing.so\n", entryFile("files"));
  EXPECT_EQ("user\n", entryFile("disabled"));
  EXPECT_FALSE(pathExists(root.file(std::string(kEntry) + "enabled")));
  package.bundle.minVersion = package.bundle.maxVersion = 0;  // the loader keeps the name only
  package.action = kActionUninstall;  // a bundle that no image describes is gone
  package.files = {"/flash/lib/routing.so", "/flash/odd"};  // the doubled "/" is not kept
  EXPECT_EQ("1 | " + describe(package), result);
}

TEST_F(DatabaseWriter, ListsAndFilesThatAreGoneLeaveNoStaleFiles) {
  for (const char* name : {"provides", "conflicts", "bundle", "files", "enabled"}) {
    writeFile(root.file(kEntry + std::string(name)), "stale 1 2 3\n");
  }
  Package bundle("routing");
  bundle.version = 0x07020000;
  bundle.isBundle = true;
  std::string result = stageAndReload([&](ChangeSet& changes) {
    return std::to_string(writeDatabaseEntry(bundle, changes));
  });
  EXPECT_EQ("", entryFile("deps"));
  for (const char* name : {"provides", "conflicts", "bundle", "files", "enabled", "disabled"}) {
    EXPECT_FALSE(pathExists(root.file(kEntry + std::string(name)))) << name;
  }
  EXPECT_EQ("1 | " + describe(bundle), result);
}

TEST_F(DatabaseWriter, PackagesWithAnImageOrNoMetaGetStateFilesOnly) {
  Package imaged = routing();
  imaged.squashfsImage = true;
  imaged.userChoice = true;
  stageAndReload([&](ChangeSet& changes) { return std::to_string(writeDatabaseEntry(imaged, changes)); });
  EXPECT_EQ("user\n", entryFile("enabled"));
  EXPECT_FALSE(pathExists(root.file(std::string(kEntry) + "version")));
  Package noMeta = routing();
  noMeta.headerFlags = PackageInfo::noMetaFlag;
  noMeta.disabled = true;
  stageAndReload([&](ChangeSet& changes) { return std::to_string(writeDatabaseEntry(noMeta, changes)); });
  EXPECT_EQ("auto\n", entryFile("disabled"));
  EXPECT_FALSE(pathExists(root.file(std::string(kEntry) + "enabled")));
  EXPECT_FALSE(pathExists(root.file(std::string(kEntry) + "deps")));
}

TEST_F(DatabaseWriter, FullFlashIsReportedWithTheFileLabel) {
  ScopedTmpfs flash(root.file("/flash"), "256k");
  if (!flash.mounted()) GTEST_SKIP() << "cannot mount tmpfs";
  makeDirs(root.file("/flash/var/pdb"));
  writeFile(root.file("/flash/filler"), std::string(1 << 20, 'x'));  // fills it up
  ScopedTmpfs ram(root.file("/ram"), "4k");
  writeFile(root.file("/ram/filler"), std::string(1 << 20, 'x'));
  RootRun run = runInRoot(root.path(), [&] {
    ChangeSet changes;
    Package package = routing();
    PackageDb& db = PackageDb::instance();
    db.messages.clear();  // the child inherits what earlier tests printed
    bool ok = writeDatabaseEntry(package, changes);
    changes.cancel();
    return std::to_string(ok) + " " + (db.messages.empty() ? "" : db.messages[0]);
  });
  EXPECT_EQ("0 ERROR: installation of routing-7.1 failed: disk is too small", run.value);
}

TEST_F(DatabaseWriter, UpgradeReplacesCarriedFilesAndRemovesDroppedOnes) {
  writeFile(root.file("/flash/lib/a.so"), "old a");
  writeFile(root.file("/flash/lib/b.so"), "old b");
  writeFile(root.file("/flash/var/pdb/routing/version"), "117506048 0\n");
  writeFile(root.file("/flash/var/pdb/routing/files"), "flash/lib/a.so\nflash/lib/b.so\n");
  writeFile(root.file("/flash/var/pdb/routing/provides"), "router 0 0 5\n");
  std::string result = stageAndReload([&](ChangeSet& changes) {
    Package old("routing");
    old.loadState();
    old.files.clear();  // as for a record described by a kept image
    old.stageRemoval(changes);
    Package upgrade("routing");
    upgrade.version = 0x07020000;
    upgrade.files = {"/flash/lib/a.so"};
    std::ofstream out;
    changes.openStagedFile(out, "/flash/lib/a.so", 5, 0644);
    out << "new a";
    out.close();
    bool prepared = prepareDatabaseDir(upgrade, changes);
    return std::to_string(prepared) + std::to_string(writeDatabaseEntry(upgrade, changes));
  });
  EXPECT_EQ("new a", readFile(root.file("/flash/lib/a.so")));
  EXPECT_FALSE(pathExists(root.file("/flash/lib/b.so")));
  EXPECT_FALSE(pathExists(root.file("/flash/var/pdb/routing/provides")));
  EXPECT_EQ("flash/lib/a.so\n", entryFile("files"));
  EXPECT_EQ("11", result.substr(0, 2));
}

TEST_F(DatabaseWriter, PrepareRefusesWhatCannotBecomeAnEntryDirectory) {
  writeFile(root.file("/flash/var/pdb/filed"), "a file where the entry belongs");
  RootRun run = runInRoot(root.path(), [&] {
    ChangeSet changes;
    Package filed("filed"), fresh("fresh"), pending("pending");
    changes.addSymlink("/elsewhere", databaseDir(pending));
    return std::to_string(prepareDatabaseDir(filed, changes)) +
           std::to_string(prepareDatabaseDir(fresh, changes)) +
           std::to_string(prepareDatabaseDir(pending, changes));
  });
  EXPECT_EQ("010", run.value);
}

TEST_F(DatabaseWriter, EnablingWritesStateAndTellsTheUser) {
  writeFile(root.file("/flash/var/pdb/routing/disabled"), "auto\n");
  std::string result = stageAndReload([&](ChangeSet& changes) {
    PackageDb& db = PackageDb::instance();
    Package* chosen = new Package("routing");
    chosen->version = 0x07010000;
    chosen->disabled = true;
    chosen->userChoice = true;
    chosen->action = kActionEnable;
    db.packages.push_back(chosen);
    enablePackages(db, changes, {chosen}, true);
    return std::to_string(chosen->disabled) + std::to_string(chosen->action) + " " +
           db.messages.back();
  });
  EXPECT_EQ("00 enabled routing-7.1 | ", result.substr(0, 25));
  EXPECT_EQ("user\n", entryFile("enabled"));
  EXPECT_FALSE(pathExists(root.file(std::string(kEntry) + "disabled")));
}

}  // namespace
}  // namespace testing_support

// Loading a package database inside a scratch root, for the tests of the
// database loading: a fixture that lays out entries and runs
// PackageDb::openRepository in a chrooted child, and a one-line description
// of every record it loaded.
#ifndef SUPPORT_REPOSITORY_LOAD_H_
#define SUPPORT_REPOSITORY_LOAD_H_

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pdb/package_db.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace testing_support {

// One line per record, for comparing whole loading results.
inline std::string refsText(const char* label, const std::vector<PackageRef>& refs) {
  std::ostringstream out;
  for (const PackageRef& ref : refs) {
    out << " " << label << ":" << ref.name << "/" << ref.minVersion << "/" << ref.maxVersion
        << "/" << ref.priority;
  }
  return out.str();
}

inline std::string describe(const Package& package) {
  std::ostringstream out;
  out << package.name << " v" << package.version << " t" << package.buildTime << " a"
      << package.action << (package.disabled ? " disabled" : " enabled")
      << (package.userChoice ? " user" : " auto");
  if (package.isBundle) out << " bundle";
  if (!package.architecture.empty()) out << " arch:" << package.architecture;
  if (!package.attribute2.empty()) out << " attr2:" << package.attribute2;
  if (!package.bundle.name.empty()) {
    out << " in:" << package.bundle.name << "/" << package.bundle.minVersion << "/"
        << package.bundle.maxVersion;
  }
  out << refsText("dep", package.depends) << refsText("prov", package.provides)
      << refsText("conf", package.conflicts);
  for (const std::string& file : package.files) out << " " << file;
  if (!package.note.empty()) out << " note:" << package.note;
  return out.str();
}

inline std::string describeAll(const PackageDb& db) {
  std::string all;
  for (const Package* package : db.packages) all += describe(*package) + "\n";
  return all;
}

// Directory order is the file system's; where a test does not pin the
// order down, it compares the records sorted.
inline std::string sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string sorted;
  for (const std::string& each : lines) sorted += each + "\n";
  return sorted;
}

class RepositoryLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::canChroot()) GTEST_SKIP() << "loading tests need root for chroot";
    ASSERT_TRUE(testing_support::makeDirs(root_.file("/flash/var/pdb")));
  }

  void put(const std::string& inside, const std::string& content) {
    ASSERT_TRUE(testing_support::writeFile(root_.file(inside), content)) << inside;
  }
  void entry(const std::string& name, const std::string& file, const std::string& content) {
    put("/flash/var/pdb/" + name + "/" + file, content);
  }

  // Opens the repository inside the root; the value is the records'
  // description.
  RootRun load(bool quiet = false, PackageDb::LoadScope scope = PackageDb::LoadScope::kWhole) {
    RootRun run = testing_support::runInRoot(root_.path(), [quiet, scope] {
      alarm(20);  // a loading loop that never ends fails instead of hanging
      PackageDb db;
      db.openRepository(quiet, "x86", scope);
      Package* first = db.find("dhcp");
      return db.architecture + (first ? " first dhcp v" + std::to_string(first->version) : "") +
             "\n" + describeAll(db);
    });
    EXPECT_EQ(0, run.status) << run.errors;
    return run;
  }

  TempDir root_;
};

}  // namespace testing_support

#endif  // SUPPORT_REPOSITORY_LOAD_H_

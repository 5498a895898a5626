#include "pdb/package_db.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "support/repository_load.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace {

using testing_support::RootRun;
using testing_support::TempDir;
using testing_support::RepositoryLoadTest;
using testing_support::sortedLines;

Package* addPackage(PackageDb& db, const std::string& name, PackageVersion version,
                    bool disabled = false) {
  Package* package = new Package(name);
  package->version = version;
  package->disabled = disabled;
  db.packages.push_back(package);
  return package;
}

TEST(PackageLookupTest, IndexOfMatchesExactNamesInLoadOrder) {
  PackageDb db;
  EXPECT_EQ(-1, db.indexOf("dhcp"));
  EXPECT_EQ(nullptr, db.find("dhcp"));
  addPackage(db, "ntp", 1);
  Package* first = addPackage(db, "dhcp", 1);
  addPackage(db, "dhcp", 2);
  EXPECT_EQ(1, db.indexOf("dhcp"));
  EXPECT_EQ(first, db.find("dhcp"));
  EXPECT_EQ(-1, db.indexOf("DHCP"));
  EXPECT_EQ(-1, db.indexOf("dhc"));
  EXPECT_EQ(-1, db.indexOf(""));
}

TEST(PackageLookupTest, FindProviderPrefersEnabledThenTheLastDisabled) {
  PackageDb db;
  EXPECT_EQ(nullptr, db.findProvider("dns"));
  Package* firstDisabled = addPackage(db, "dns", 1, true);
  EXPECT_EQ(firstDisabled, db.findProvider("dns"));
  Package* lastDisabled = addPackage(db, "unbound", 1, true);
  lastDisabled->provides.push_back(PackageRef("dns", 5, 6, -1));
  addPackage(db, "ntp", 1);
  EXPECT_EQ(lastDisabled, db.findProvider("dns"));

  Package* enabled = addPackage(db, "dnsmasq", 1);
  enabled->provides.push_back(PackageRef("dns", 0, 0, 0));
  Package* laterEnabled = addPackage(db, "dns", 2);
  EXPECT_EQ(enabled, db.findProvider("dns"));
  enabled->disabled = true;
  EXPECT_EQ(laterEnabled, db.findProvider("dns"));
  EXPECT_EQ(nullptr, db.findProvider("Dns"));
}

TEST(PackageLookupTest, FindConflictingSkipsDisabledPackages) {
  PackageDb db;
  PackageInfo candidate("pptp");
  candidate.version = 3;
  Package* disabledBlocker = addPackage(db, "ppp", 1, true);
  disabledBlocker->conflicts.push_back(PackageRef("pptp", 0, 0));
  addPackage(db, "ntp", 1);
  EXPECT_EQ(nullptr, db.findConflicting(candidate));
  Package* blocker = addPackage(db, "l2tp", 1);
  blocker->conflicts.push_back(PackageRef("pptp", 2, 0));
  Package* secondBlocker = addPackage(db, "sstp", 1);
  secondBlocker->conflicts.push_back(PackageRef("pptp", 0, 0));
  EXPECT_EQ(blocker, db.findConflicting(candidate));
  // The installed package is the side whose conflicts count.
  PackageInfo innocent("ntp2");
  innocent.conflicts.push_back(PackageRef("ntp", 0, 0));
  EXPECT_EQ(nullptr, db.findConflicting(innocent));
}

TEST(PackageLookupTest, ProvidersOfListsDisabledButNoAllOnesRecords) {
  PackageDb db;
  Package* placeholder = addPackage(db, "routing", 0xFFFFFFFF);
  placeholder->buildTime = 0xFFFFFFFF;
  Package* disabledOne = addPackage(db, "routing", 7, true);
  addPackage(db, "routing", 2);
  Package* provider = addPackage(db, "bgp", 1);
  provider->provides.push_back(PackageRef("routing", 0, 0, 0));
  std::vector<Package*> expected = {disabledOne, provider};
  EXPECT_EQ(expected, db.providersOf(PackageRef("routing", 5, 0)));
  EXPECT_TRUE(db.providersOf(PackageRef("ospf", 0, 0)).empty());
}

TEST(PackageLookupTest, DetachKeepsTheRecordAndRemoveDestroysOnlyItsOwn) {
  PackageDb db;
  Package* kept = addPackage(db, "ntp", 1);
  Package* dropped = addPackage(db, "dhcp", 1);
  EXPECT_TRUE(db.detach(kept));
  EXPECT_FALSE(db.detach(kept));
  EXPECT_EQ(-1, db.indexOf("ntp"));
  EXPECT_EQ("ntp", kept->name);  // still alive, now ours
  db.remove(kept);               // not held by the database: left alone
  EXPECT_EQ("ntp", kept->name);
  delete kept;
  db.remove(dropped);
  EXPECT_TRUE(db.packages.empty());
}

TEST_F(RepositoryLoadTest, EmptyOrMissingDatabase) {
  RootRun empty = load();
  EXPECT_EQ("x86\n", empty.value);
  EXPECT_EQ("", empty.output);

  ASSERT_EQ(0, rmdir(root_.file("/flash/var/pdb").c_str()));
  RootRun missing = load();
  EXPECT_EQ("x86\n", missing.value);
  EXPECT_EQ("WARNING: could not open repo\n", missing.output);
  EXPECT_EQ("", load(true).output);
}

TEST_F(RepositoryLoadTest, DescriptiveFilesMakeTheRecord) {
  entry("dhcp", "version", "117440512 1000\n");
  entry("dhcp", "deps", "system 100 0\n");
  entry("dhcp", "provides", "dns 0 0 -1\nresolver\n5 9 3\n");
  entry("dhcp", "conflicts", "ppp 0 0\n");
  entry("dhcp", "files", "flash/nova/a\n/flash/b\n\nflash/c");
  entry("suite", "version", "5 6\n");
  entry("suite", "deps", "");
  entry(".hidden", "version", "1 1\n");
  EXPECT_EQ(sortedLines("x86 first dhcp v117440512\n"
                        "dhcp v117440512 t1000 a0 enabled auto dep:system/100/0/0"
                        " prov:dns/0/0/-1 prov:resolver/5/9/3 conf:ppp/0/0/0"
                        " /flash/b /flash/c /flash/nova/a\n"
                        "suite v5 t6 a0 enabled auto bundle\n"),
            sortedLines(load().value));
}

TEST_F(RepositoryLoadTest, MissingOrMalformedDescriptionSchedulesUninstall) {
  entry("noversion", "files", "");
  entry("halfversion", "version", "12\n");
  entry("textversion", "version", "7 soon\n");
  entry("negative", "version", "-1 5\n");
  entry("orphan", "version", "3 4\n");
  entry("orphan", "bundle", "gone\n");
  entry("orphan", "files", "");
  entry("shortdeps", "version", "3 4\n");
  entry("shortdeps", "deps", "system 1 2\nrouting 5\n");
  entry("shortdeps", "files", "");
  entry("noprio", "version", "3 4\n");
  entry("noprio", "provides", "dns 0 0\n");
  entry("noprio", "files", "");
  entry("extremes", "version", "4294967294 0\n");
  entry("extremes", "provides", "a 0 0 -2147483648 b 0 0 2147483647\n");
  entry("extremes", "files", "");
  EXPECT_EQ(sortedLines("x86\n"
                        "noversion v0 t0 a1 enabled auto\n"
                        "halfversion v12 t0 a1 enabled auto bundle\n"
                        "textversion v7 t0 a1 enabled auto bundle\n"
                        "negative v0 t0 a1 enabled auto bundle\n"
                        "orphan v3 t4 a1 enabled auto in:gone/0/0\n"
                        "shortdeps v3 t4 a1 enabled auto dep:system/1/2/0\n"
                        "noprio v3 t4 a1 enabled auto\n"
                        "extremes v4294967294 t0 a0 enabled auto"
                        " prov:a/0/0/-2147483648 prov:b/0/0/2147483647\n"),
            sortedLines(load().value));
}

TEST_F(RepositoryLoadTest, DisabledAndEnabledFilesGiveTheState) {
  const char* names[] = {"autooff", "useroff", "emptyoff", "bothoff", "useron", "plain"};
  for (const char* name : names) {
    entry(name, "version", "1 2\n");
    entry(name, "files", "");
  }
  entry("autooff", "disabled", "auto\n");
  entry("useroff", "disabled", "user\n");
  entry("emptyoff", "disabled", "");
  entry("bothoff", "disabled", "auto\n");
  entry("bothoff", "enabled", "user\n");
  entry("useron", "enabled", "");
  EXPECT_EQ(sortedLines("x86\n"
                        "autooff v1 t2 a0 disabled auto\n"
                        "useroff v1 t2 a0 disabled user\n"
                        "emptyoff v1 t2 a0 disabled user\n"
                        "bothoff v1 t2 a0 disabled auto\n"
                        "useron v1 t2 a0 enabled user\n"
                        "plain v1 t2 a0 enabled auto\n"),
            sortedLines(load().value));
}

TEST_F(RepositoryLoadTest, ScheduleFileUnderTheCleanedName) {
  entry("my_pkg.1-0", "version", "1 2\n");
  entry("my_pkg.1-0", "files", "");
  entry("my_pkg.1-0", "disabled", "auto\n");
  put("/ram/pdb/mypkg1-0/schedule", "enable now\n");
  put("/ram/pdb/my_pkg.1-0/schedule", "uninstall\n");  // the uncleaned name is not read
  entry("off", "version", "1 2\n");
  entry("off", "files", "");
  put("/ram/pdb/off/schedule", "  disable\n");
  entry("gone", "version", "1 2\n");
  put("/ram/pdb/gone/schedule", "uninstall");
  entry("orphan", "version", "1 2\n");
  entry("orphan", "bundle", "suite\n");
  entry("orphan", "files", "");
  put("/ram/pdb/orphan/schedule", "remove\n");
  entry("broken", "files", "");
  put("/ram/pdb/broken/schedule", "enable\n");
  entry("blank", "version", "1 2\n");
  entry("blank", "files", "");
  put("/ram/pdb/blank/schedule", "\n");
  EXPECT_EQ(sortedLines("x86\n"
                        "my_pkg.1-0 v1 t2 a2 disabled user\n"
                        "off v1 t2 a3 enabled user\n"
                        "gone v1 t2 a1 enabled auto bundle\n"
                        "orphan v1 t2 a1 enabled auto in:suite/0/0\n"
                        "broken v0 t0 a2 enabled user\n"
                        "blank v1 t2 a0 enabled auto\n"),
            sortedLines(load().value));
}

// Only the files an entry's directory lists are opened; what is read must
// not change with that: a name that cleans to nothing reads the schedule
// file in the schedule root itself, and a missing schedule root reads none.
TEST_F(RepositoryLoadTest, FilesPresentAreReadWhateverElseIsMissing) {
  entry("_", "version", "1 2\n");
  entry("_", "files", "");
  put("/ram/pdb/schedule", "uninstall\n");
  entry("lean", "version", "3 4\n");
  entry("lean", "files", "flash/a\n");
  entry("lean", "deps", "_ 1 2\n");
  EXPECT_EQ(sortedLines("x86\n"
                        "_ v1 t2 a1 enabled auto\n"
                        "lean v3 t4 a0 enabled auto dep:_/1/2/0 /flash/a\n"),
            sortedLines(load().value));
}

TEST_F(RepositoryLoadTest, AllOnesRecordsReadNoSchedule) {
  entry("placeholder", "version", "4294967295 4294967295\n");
  entry("placeholder", "files", "");
  put("/ram/pdb/placeholder/schedule", "disable\n");
  entry("orphan", "version", "4294967295 4294967295\n");
  entry("orphan", "bundle", "suite\n");
  entry("orphan", "files", "");
  put("/ram/pdb/orphan/schedule", "enable\n");
  entry("almost", "version", "4294967295 4294967294\n");
  entry("almost", "files", "");
  put("/ram/pdb/almost/schedule", "disable\n");
  EXPECT_EQ(sortedLines("x86\n"
                        "placeholder v4294967295 t4294967295 a0 enabled auto\n"
                        "orphan v4294967295 t4294967295 a1 enabled auto in:suite/0/0\n"
                        "almost v4294967295 t4294967294 a3 enabled user\n"),
            sortedLines(load().value));
}

// The --show table reads only what it shows: its table is the same as after
// a whole load, while the records lack the lists, the files and the
// actions those would schedule.
TEST_F(RepositoryLoadTest, ListingScopeReadsWhatTheTableShows) {
  entry("dhcp", "version", "117440512 1000\n");
  entry("dhcp", "deps", "system 100 0\n");
  entry("dhcp", "provides", "dns 0 0 -1\n");
  entry("dhcp", "conflicts", "ppp 0 0\n");
  entry("dhcp", "files", "flash/a\n");
  entry("dhcp", "disabled", "auto\n");
  entry("suite", "version", "5 6\n");
  entry("suite", "enabled", "");
  entry("orphan", "version", "3 4\n");
  entry("orphan", "bundle", "gone\n");
  entry("orphan", "files", "flash/b\n");
  entry("broken", "version", "3 4\n");
  entry("broken", "deps", "system 1\n");
  entry("broken", "files", "");
  entry("planned", "version", "1 2\n");
  entry("planned", "files", "");
  entry("noversion", "files", "");
  put("/ram/pdb/planned/schedule", "disable\n");
  EXPECT_EQ(sortedLines("x86 first dhcp v117440512\n"
                        "dhcp v117440512 t1000 a0 disabled auto\n"
                        "suite v5 t6 a0 enabled user\n"
                        "orphan v3 t4 a1 enabled auto in:gone/0/0\n"
                        "broken v3 t4 a0 enabled auto\n"
                        "planned v1 t2 a0 enabled auto\n"
                        "noversion v0 t0 a1 enabled auto\n"),
            sortedLines(load(false, PackageDb::LoadScope::kListing).value));

  auto table = [this](PackageDb::LoadScope scope) {
    RootRun run = testing_support::runInRoot(root_.path(), [scope] {
      PackageDb db;
      db.openRepository(true, "x86", scope);
      db.printListing();
      return std::string();
    });
    EXPECT_EQ(0, run.status) << run.errors;
    return run.output;
  };
  std::string whole = table(PackageDb::LoadScope::kWhole);
  EXPECT_EQ(8, std::count(whole.begin(), whole.end(), '\n'));
  EXPECT_NE(std::string::npos, whole.find(" X   "));
  EXPECT_NE(std::string::npos, whole.find(" B "));
  EXPECT_EQ(whole, table(PackageDb::LoadScope::kListing));
}

}  // namespace

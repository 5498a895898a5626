#include "pdb/package_db.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "package/package_writer.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace {

using testing_support::RootRun;
using testing_support::TempDir;

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

// One line per record, for comparing whole loading results.
std::string refsText(const char* label, const std::vector<PackageRef>& refs) {
  std::ostringstream out;
  for (const PackageRef& ref : refs) {
    out << " " << label << ":" << ref.name << "/" << ref.minVersion << "/" << ref.maxVersion
        << "/" << ref.priority;
  }
  return out.str();
}

std::string describe(const Package& package) {
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

std::string describeAll(const PackageDb& db) {
  std::string all;
  for (const Package* package : db.packages) all += describe(*package) + "\n";
  return all;
}

// Directory order is the file system's; where a test does not pin the
// order down, it compares the records sorted.
std::string sortedLines(const std::string& text) {
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
  RootRun load(bool quiet = false) {
    RootRun run = testing_support::runInRoot(root_.path(), [quiet] {
      alarm(20);  // a loading loop that never ends fails instead of hanging
      PackageDb db;
      db.openRepository(quiet, "x86");
      Package* first = db.find("dhcp");
      return db.architecture + (first ? " first dhcp v" + std::to_string(first->version) : "") +
             "\n" + describeAll(db);
    });
    EXPECT_EQ(0, run.status) << run.errors;
    return run;
  }

  TempDir root_;
};

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

// Package files as the installer keeps them: header parts, an image part
// and a signature, built with the package writer.
PackageInfo header(const std::string& name, PackageVersion version, uint32_t buildTime) {
  PackageInfo info(name);
  info.version = version;
  info.buildTime = buildTime;
  return info;
}

std::string fakeSignature(const PackageDigest&) { return std::string(68, 's'); }

void addPackageParts(PackageWriter& writer, const PackageInfo& info) {
  writer.addDescription(info);
  writer.addPart(kPartSquashfsImage, "hsqs image");
  writer.addSignature(68, fakeSignature);
}

std::string packageImage(const PackageInfo& info) {
  PackageWriter writer;
  addPackageParts(writer, info);
  return writer.bytes();
}

TEST_F(RepositoryLoadTest, BundleImageListsMembersBeforeTheBundle) {
  PackageInfo bundle = header("suite", 0x07010000, 100);
  bundle.isBundle = true;
  bundle.note = "bundled";
  PackageInfo routing = header("routing", 0x07016605, 90);
  routing.depends.push_back(PackageRef("system", 0x07010000, 0));
  PackageInfo wireless = header("wireless", 0x07016302, 80);
  wireless.provides.push_back(PackageRef("wifi", 0, 0, -1));
  wireless.conflicts.push_back(PackageRef("legacywifi", 0, 0));
  PackageWriter writer;
  writer.addDescription(bundle);
  writer.addList(kPartBundleMembers, {PackageRef("routing", 0, 0), PackageRef("wireless", 0, 0)});
  addPackageParts(writer, routing);
  addPackageParts(writer, wireless);
  writer.addPart(kPartArchitecture, "x86");
  entry("suite", "image", writer.bytes());
  entry("suite", "version", "1 1\n");
  entry("routing", "disabled", "auto\n");
  entry("wireless", "version", "3 3\n");
  put("/ram/pdb/wireless/schedule", "disable\n");
  EXPECT_EQ("x86\n"
            "routing v117532165 t90 a0 disabled auto arch:i386 in:suite/117506048/117506048"
            " dep:system/117506048/0/0\n"
            "wireless v117531394 t80 a3 enabled user arch:i386 in:suite/117506048/117506048"
            " prov:wifi/0/0/-1 conf:legacywifi/0/0/0\n"
            "suite v117506048 t100 a0 enabled auto bundle arch:i386 note:bundled\n",
            load().value);
}

TEST_F(RepositoryLoadTest, ImageAloneDescribesItsEntryAndKeptImagesComeSecond) {
  PackageInfo installed = header("dhcp", 0x07016605, 500);
  installed.depends.push_back(PackageRef("system", 0, 0));
  installed.provides.push_back(PackageRef("dns", 0, 0, 5));
  installed.note = "server";
  installed.attribute2 = "skipped";
  installed.architecture = "arm";
  entry("dhcp", "image", packageImage(installed));
  entry("dhcp", "version", "1 1\n");
  entry("dhcp", "deps", "other 0 0\n");
  entry("dhcp", "files", "flash/x\n");
  put("/rw/pckg/.images/dhcp", packageImage(header("dhcp", 3, 4)));
  put("/rw/pckg/.images/unlisted", packageImage(header("unlisted", 3, 4)));
  EXPECT_EQ("x86 first dhcp v117532165\n"
            "dhcp v117532165 t500 a0 enabled auto arch:i386 dep:system/0/0/0 prov:dns/0/0/5"
            " note:server\n"
            "dhcp v3 t4 a0 enabled auto arch:i386\n",
            load().value);
}

TEST_F(RepositoryLoadTest, EntryNamedUnlikeItsImageGetsASecondRecord) {
  entry("renamed", "image", packageImage(header("ntp", 9, 9)));
  put("/ram/pdb/ntp/schedule", "uninstall\n");
  EXPECT_EQ("x86\n"
            "ntp v9 t9 a1 enabled auto arch:i386\n"
            "renamed v0 t0 a1 enabled auto bundle\n",
            load().value);
}

TEST_F(RepositoryLoadTest, UnreadableImagesFallBackToDescriptiveFiles) {
  const char* names[] = {"junk", "empty", "dirimage", "linked"};
  for (const char* name : names) {
    entry(name, "version", "5 6\n");
    entry(name, "files", "");
  }
  entry("junk", "image", "not a package file");
  entry("empty", "image", "");
  ASSERT_TRUE(testing_support::makeDirs(root_.file("/flash/var/pdb/dirimage/image")));
  put("/flash/bootimage", packageImage(header("linked", 8, 8)));
  ASSERT_EQ(0, symlink("/flash/bootimage", root_.file("/flash/var/pdb/linked/image").c_str()));
  EXPECT_EQ(sortedLines("x86\n"
                        "junk v5 t6 a0 enabled auto\n"
                        "empty v5 t6 a0 enabled auto\n"
                        "dirimage v5 t6 a0 enabled auto\n"
                        "linked v8 t8 a0 enabled auto arch:i386\n"),
            sortedLines(load().value));
}

TEST_F(RepositoryLoadTest, CutBundleKeepsTheMembersReadBeforeTheCut) {
  PackageInfo bundle = header("suite", 7, 7);
  bundle.isBundle = true;
  PackageWriter writer;
  writer.addDescription(bundle);
  addPackageParts(writer, header("routing", 5, 5));
  writer.addPartHeader(kPartPackageHeader, 36);
  writer.addRaw("wireless");
  entry("suite", "image", writer.bytes());
  EXPECT_EQ("x86\n"
            "routing v5 t5 a0 enabled auto arch:i386 in:suite/7/7\n"
            "suite v7 t7 a0 enabled auto bundle arch:i386\n",
            load().value);
}

}  // namespace

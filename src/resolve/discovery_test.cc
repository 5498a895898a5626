#include "resolve/discovery.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "pdb/package_db.h"
#include "platform/nv.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"
#include "support/unreadable_directory.h"

namespace {

using testing_support::RootRun;
using testing_support::TempDir;
using testing_support::UnreadableDirectory;
using testing_support::pathExists;
using testing_support::runInRoot;
using testing_support::writeFile;

PackageVersion version(unsigned major, unsigned minor) { return (major << 24) | (minor << 16) | ('f' << 8); }

PackageInfo info(const std::string& name, PackageVersion packageVersion, const std::string& architecture = "x86") {
  PackageInfo record(name);
  record.version = packageVersion;
  record.buildTime = 1000;
  record.architecture = architecture;
  return record;
}

// One package as the package tool lays it out; the scan never looks at
// the signature.
void addPackage(PackageWriter& writer, const PackageInfo& record, const std::string& image = std::string()) {
  writer.addDescription(record);
  if (!image.empty()) writer.addPart(kPartSquashfsImage, image);
  writer.addFileTree({});
  writer.addPart(kPartSignature, std::string(68, 's'));
}

std::string standalone(const PackageInfo& record, const std::string& image = std::string()) {
  PackageWriter writer;
  addPackage(writer, record, image);
  return writer.bytes();
}

std::vector<std::string> paths(const std::vector<std::unique_ptr<PackageFile>>& list) {
  std::vector<std::string> result;
  for (const auto& record : list) result.push_back(record->path);
  return result;
}

std::vector<std::string> sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

class ScanTest : public testing::Test {
 protected:
  ScanTest() { db_.architecture = "x86"; }

  std::string dir() const { return temp_.path() + "/"; }
  void put(const std::string& name, const std::string& bytes) { ASSERT_TRUE(writeFile(temp_.file(name), bytes)); }
  void scan() { scanPackageDirectory(dir(), candidates_, db_); }

  TempDir temp_;
  PackageDb db_;
  std::vector<std::unique_ptr<PackageFile>> candidates_;
};

// Order is the directory's; several files of one package are all kept.
TEST_F(ScanTest, TakesPackageEndingsOnlyInDirectoryOrder) {
  PackageInfo full = info("full", version(7, 1));
  full.provides = {PackageRef("web", version(1, 0), 0, 5)};
  full.note = "a note";
  full.attribute2 = "two";
  full.attribute24 = "twenty-four";
  put("full.npk", standalone(full, std::string(4096, 'i')));
  for (const char* name : {"a.dpk", "b.npk", "c.npk"}) put(name, standalone(info("same", version(1, 0))));
  for (const char* name : {"upper.NPK", ".hidden.npk", "notes.txt", "b.npk.bak", "npk", "sub/inner.npk"}) {
    put(name, standalone(info("ignored", version(1, 0))));
  }
  candidates_.push_back(std::make_unique<PackageFile>("/earlier.npk"));
  std::vector<std::string> expected = {"/earlier.npk"};
  DIR* listing = opendir(temp_.path().c_str());
  ASSERT_NE(listing, nullptr);
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name == "full.npk" || name == "a.dpk" || name == "b.npk" || name == "c.npk") {
      expected.push_back(dir() + name);
    }
  }
  closedir(listing);

  scan();

  EXPECT_EQ(paths(candidates_), expected);
  EXPECT_TRUE(db_.messages.empty());
  for (const auto& record : candidates_) {
    if (record->name != "full") continue;
    EXPECT_EQ(record->version, version(7, 1));
    EXPECT_EQ(record->note, "a note");
    EXPECT_EQ(record->attribute2, "two");
    EXPECT_EQ(record->attribute24, "twenty-four");
    EXPECT_TRUE(record->squashfsImage);
    ASSERT_EQ(record->provides.size(), 1u);
    EXPECT_EQ(record->provides[0].priority, 5);
  }
}

TEST_F(ScanTest, MissingDirectoryAddsNothingAndSaysNothing) {
  EXPECT_TRUE(scanPackageDirectory(temp_.path() + "/absent/", candidates_, db_));
  EXPECT_TRUE(candidates_.empty());
  EXPECT_TRUE(db_.messages.empty());
}

TEST_F(ScanTest, UnreadableDirectoryAddsNothingAndSaysWhy) {
  if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to mount a damaged directory";
  std::string good = standalone(info("good", version(1, 0)));
  put("good.npk", good);
  scan();
  ASSERT_EQ(1u, candidates_.size());
  const std::string broken = temp_.file("broken/");
  UnreadableDirectory damaged(broken, {"other.npk"});
  if (!damaged.ready()) GTEST_SKIP() << damaged.why();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(scanPackageDirectory(broken, candidates_, db_));
  EXPECT_EQ("readdir " + broken + ": Bad message\n", testing::internal::GetCapturedStderr());
  // The candidates found before stay; none of the damaged directory join.
  ASSERT_EQ(1u, candidates_.size());
  EXPECT_EQ("good", candidates_[0]->name);
}

TEST_F(ScanTest, BrokenFilesAreNamedWithoutTheirDirectory) {
  std::string good = standalone(info("good", version(1, 0)));
  put("cut.npk", good.substr(0, good.size() - 1));
  put("padded.npk", good + "x");
  put("short.npk", good.substr(0, 5));
  std::string foreign = good;
  foreign[0] = 0x1F;
  put("magic.npk", foreign);
  PackageWriter noHeader;
  noHeader.addPart(kPartArchitecture, "x86");
  noHeader.addPart(kPartSignature, std::string(68, 's'));
  put("noheader.npk", noHeader.bytes());
  PackageWriter shortList;
  shortList.addHeader(kPartPackageHeader, info("list", version(1, 0)));
  shortList.addPart(kPartDependencies, std::string("\x02\x00", 2) + std::string(40, 'n'));
  put("list.npk", shortList.bytes());
  put("good.npk", good);
  ASSERT_EQ(mkfifo(temp_.file("fifo.npk").c_str(), 0600), 0);
  ASSERT_TRUE(testing_support::makeDirs(temp_.file("dir.npk")));
  // A regular file of size 0 whose every read fails: a read error must
  // come out as a broken package, not end the run.
  ASSERT_EQ(symlink("/proc/self/mem", temp_.file("unreadable.npk").c_str()), 0);

  scan();

  ASSERT_EQ(candidates_.size(), 1u);
  EXPECT_EQ(candidates_[0]->name, "good");
  EXPECT_EQ(sorted(db_.messages), (std::vector<std::string>{
                          "ERROR: broken package cut.npk", "ERROR: broken package dir.npk",
                          "ERROR: broken package fifo.npk", "ERROR: broken package list.npk",
                          "ERROR: broken package magic.npk", "ERROR: broken package noheader.npk",
                          "ERROR: broken package padded.npk", "ERROR: broken package short.npk",
                          "ERROR: broken package unreadable.npk"}));
}

TEST_F(ScanTest, BundlesCarryTheirMembersOrAreBroken) {
  PackageInfo bundle = info("routing", version(2, 0));
  bundle.isBundle = true;
  PackageWriter complete;
  complete.addDescription(bundle);
  complete.addPart(kPartSquashfsImage, std::string(512, 'i'));
  complete.addList(kPartBundleMembers, {PackageRef("bgp", 0, 0), PackageRef("ospf", 0, 0)});
  PackageInfo bgp = info("bgp", version(2, 1));
  bgp.depends = {PackageRef("system", version(7, 0), 0)};
  addPackage(complete, bgp);
  complete.addSha256Marker();
  addPackage(complete, info("ospf", version(2, 2)));
  put("routing.npk", complete.bytes());

  PackageWriter empty;
  empty.addDescription(bundle);
  empty.addList(kPartBundleMembers, {});
  put("empty.npk", empty.bytes());

  PackageWriter badMember;
  badMember.addDescription(bundle);
  addPackage(badMember, info("fine", version(1, 0)));
  badMember.addHeader(kPartPackageHeader, info("bad", version(1, 0)));
  badMember.addPart(kPartProvides, std::string("\x05\x00", 2));
  put("badmember.npk", badMember.bytes());

  scan();

  ASSERT_EQ(candidates_.size(), 1u);
  const PackageFile& found = *candidates_[0];
  EXPECT_TRUE(found.isBundle);
  EXPECT_TRUE(found.squashfsImage);
  ASSERT_EQ(found.members.size(), 2u);
  EXPECT_EQ(found.members[0]->name, "bgp");
  EXPECT_EQ(found.members[0]->version, version(2, 1));
  ASSERT_EQ(found.members[0]->depends.size(), 1u);
  EXPECT_EQ(found.members[0]->depends[0].name, "system");
  EXPECT_EQ(found.members[1]->name, "ospf");
  EXPECT_EQ(sorted(db_.messages), (std::vector<std::string>{"ERROR: broken package badmember.npk",
                                                "ERROR: broken package empty.npk"}));
}

TEST_F(ScanTest, ForeignArchitectureIsDroppedWithAWarning) {
  put("arm.npk", standalone(info("tool", version(7, 1), "arm")));
  PackageWriter anyArchitecture;
  anyArchitecture.addHeader(kPartPackageHeader, info("any", version(1, 0)));
  anyArchitecture.addPart(kPartArchitecture, "");
  anyArchitecture.addPart(kPartSignature, std::string(68, 's'));
  put("any.npk", anyArchitecture.bytes());
  // Without an architecture part a package counts as built for "i386".
  PackageWriter unmarked;
  unmarked.addHeader(kPartPackageHeader, info("plain", version(1, 0)));
  put("plain.npk", unmarked.bytes());

  scan();

  ASSERT_EQ(candidates_.size(), 1u);
  EXPECT_EQ(candidates_[0]->name, "any");
  EXPECT_EQ(sorted(db_.messages),
            (std::vector<std::string>{
                "WARNING: can not install plain-" + versionText(version(1, 0)) + ": it is not made for x86, but for i386",
                "WARNING: can not install tool-" + versionText(version(7, 1)) + ": it is not made for x86, but for arm"}));
}

// The scans below need the router's absolute paths ("/ram/SECURE",
// "/pckg/branding/...") and so run chrooted in a temporary root.
class ChrootedScanTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to chroot";
  }
  void put(const std::string& inside, const std::string& bytes) { ASSERT_TRUE(writeFile(root_.file(inside), bytes)); }
  // Scans "/flash/rw/pckg/" in the root; the value lists the accepted
  // names and the messages, one per line.
  RootRun scanInRoot() {
    return runInRoot(root_.path(), [] {
      nv::Settings restricted;
      restricted.safeRanges.push_back({version(7, 0), version(7, 0), 0, 0xFFFFFFFF, 0});
      nv::setSettingsForTest(restricted);
      PackageDb db;
      db.architecture = "x86";
      std::vector<std::unique_ptr<PackageFile>> candidates;
      scanPackageDirectory("/flash/rw/pckg/", candidates, db);
      std::string value;
      for (const auto& record : candidates) value += "accepted " + record->name + "\n";
      for (const std::string& line : db.messages) value += line + "\n";
      return value;
    });
  }

  TempDir root_;
};

TEST_F(ChrootedScanTest, DeviceModeRefusesUnlessSecureMarkerExists) {
  put("/flash/rw/pckg/system.npk", standalone(info("system", version(7, 1))));
  put("/flash/rw/pckg/allowed.npk", standalone(info("system", version(7, 0))));

  RootRun refused = scanInRoot();
  ASSERT_EQ(refused.status, 0) << refused.errors;
  EXPECT_EQ(refused.value, "accepted system\nERROR: will not install package system-" +
                               versionText(version(7, 1)) + ", not allowed by device-mode\n");

  put("/ram/SECURE", "");
  RootRun waived = scanInRoot();
  ASSERT_EQ(waived.status, 0) << waived.errors;
  EXPECT_EQ(waived.value, "accepted system\naccepted system\n");
}

TEST_F(ChrootedScanTest, BrandingWithoutImageDependsOnInstalledProtection) {
  // No loop device is reachable in this root: any attempt would show on
  // standard error as "loop-control: ...".
  put("/flash/rw/pckg/branding.dpk", standalone(info("branding", version(1, 0))));

  RootRun unprotected = scanInRoot();
  ASSERT_EQ(unprotected.status, 0) << unprotected.errors;
  EXPECT_EQ(unprotected.value, "accepted branding\n");
  EXPECT_EQ(unprotected.errors, "");

  put("/pckg/branding/FORCE_DEFCONF_ON_RESET", "");
  RootRun protectedBranding = scanInRoot();
  ASSERT_EQ(protectedBranding.status, 0) << protectedBranding.errors;
  EXPECT_EQ(protectedBranding.value, "ERROR: can not replace protected branding with non-protected\n");
  EXPECT_EQ(protectedBranding.errors, "");
  EXPECT_FALSE(pathExists(root_.file("/ram/branding")));
}

}  // namespace

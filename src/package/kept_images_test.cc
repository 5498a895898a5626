// Database loading from kept images: records made from the headers of the
// package files the database keeps.
#include <string>

#include <gtest/gtest.h>

#include "package/package_writer.h"
#include "pdb/package_db.h"
#include "support/repository_load.h"

namespace {

using testing_support::RepositoryLoadTest;
using testing_support::sortedLines;

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

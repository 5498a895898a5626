// Compiles the source it tests (npk_test_support.h).
#include "description.h"

#include <gtest/gtest.h>

namespace {

const time_t kNow = 1700000000;

PackageDescription parsedText(const std::string& text, std::string* error) {
  PackageDescription description;
  error->clear();
  parseDescriptionText(text, "pkg.desc", "/base/", &description, error);
  return description;
}

std::string failure(const std::string& text) {
  std::string error;
  parsedText(text, &error);
  return error;
}

TEST(NpkDescription, ReadsAHandWrittenFile) {
  std::string error;
  PackageDescription d = parsedText(
      "# routing\n"
      "name: routing\n"
      "version : 7.1rc2\n"
      "\n"
      "build-time: 2024-01-02 03:04:05\n"
      "architecture: arm\n"
      "note: Routing\n"
      "  protocols\r\n"
      "depends: system >= 7.1, dhcp\n"
      "depends:\n"
      "\tppp = 7.1\n"
      "provides: routing-api>=1.0 priority -2\n"
      "conflicts: old <= 6.49\n"
      "flags: 0x104\n"
      "boot-image: yes\n"
      "files: tree\n"
      "image: /abs/img\n"
      "skip: /etc/conf\n"
      "digest: sha1\n",
      &error);
  ASSERT_EQ("", error);
  ASSERT_TRUE(finishDescription(DescriptionKind::kPackage, kNow, &d, &error)) << error;
  EXPECT_EQ("routing", d.info.name);
  EXPECT_EQ(0x07016302u, d.info.version);
  EXPECT_EQ(1704164645u, d.info.buildTime);
  EXPECT_EQ("arm", d.info.architecture);
  EXPECT_EQ("Routing\nprotocols", d.info.note);
  ASSERT_EQ(3u, d.info.depends.size());
  EXPECT_EQ("system >= 7.1", referenceText(d.info.depends[0], false));
  EXPECT_EQ("dhcp", referenceText(d.info.depends[1], false));
  EXPECT_EQ("ppp = 7.1", referenceText(d.info.depends[2], false));
  ASSERT_EQ(1u, d.info.provides.size());
  EXPECT_EQ(-2, d.info.provides[0].priority);
  EXPECT_EQ(0x01000000u, d.info.provides[0].minVersion);
  ASSERT_EQ(1u, d.info.conflicts.size());
  EXPECT_EQ(0x06310000u, d.info.conflicts[0].maxVersion);
  EXPECT_EQ(0x105u, d.info.headerFlags);
  EXPECT_EQ("/base/tree", d.filesDir);
  EXPECT_EQ("/abs/img", d.imageDir);
  EXPECT_EQ(std::vector<std::string>{"etc/conf"}, d.skipPaths);
  EXPECT_FALSE(d.sha256);
  EXPECT_FALSE(d.info.isBundle);
}

TEST(NpkDescription, ErrorsNameTheFileAndLine) {
  EXPECT_EQ("pkg.desc:2: unknown key 'nam'", failure("name: a\nnam: b\n"));
  EXPECT_EQ("pkg.desc:1: expected 'key: value', found 'name a'", failure("name a\n"));
  EXPECT_EQ("pkg.desc:3: 'name' given twice", failure("name: a\n\nname: b\n"));
  EXPECT_EQ("pkg.desc:1: continuation line without a field", failure("  more\n"));
  EXPECT_EQ("pkg.desc:2: boot-image: 'maybe' is not yes or no", failure("\nboot-image: maybe\n"));
  EXPECT_EQ("pkg.desc:1: flags: '0x100000000' is not a number from 0 to 0xffffffff",
            failure("flags: 0x100000000\n"));
  EXPECT_EQ("pkg.desc:1: name: 'a/b' is not a package name (1 to 16 of A-Z a-z 0-9 . _ + -, "
            "no leading '.')",
            failure("name: a/b"));
  EXPECT_NE(std::string::npos, failure("name: x\nversion: 7.1rc\n  2\n").find("pkg.desc:2: version:"));
  EXPECT_EQ("pkg.desc:1: depends: 'a priority 3': only provides entries carry a priority",
            failure("depends: a priority 3"));
  // List keys may be given more than once.
  EXPECT_EQ("", failure("depends: a\ndepends: b\n"));
}

TEST(NpkDescription, FinishingChecksWhatTheKindNeeds) {
  std::string error;
  PackageDescription d;
  EXPECT_FALSE(finishDescription(DescriptionKind::kPackage, kNow, &d, &error));
  EXPECT_EQ("no name given for a package", error);
  ASSERT_TRUE(applyDescriptionField("name", "bun", "", &d, &error));
  EXPECT_FALSE(finishDescription(DescriptionKind::kBundle, kNow, &d, &error));
  EXPECT_EQ("no version given for a bundle", error);
  ASSERT_TRUE(applyDescriptionField("version", "7.2", "", &d, &error));
  PackageDescription bundle = d;
  ASSERT_TRUE(applyDescriptionField("trailing-architecture", "arm", "", &d, &error));
  EXPECT_FALSE(finishDescription(DescriptionKind::kPackage, kNow, &d, &error));
  EXPECT_EQ("'trailing-architecture' does not belong in a package", error);
  ASSERT_TRUE(applyDescriptionField("depends", "x", "", &bundle, &error));
  EXPECT_FALSE(finishDescription(DescriptionKind::kBundle, kNow, &bundle, &error));
  EXPECT_EQ("'depends' does not belong in a bundle", error);
  ASSERT_TRUE(finishDescription(DescriptionKind::kBundle, kNow, &d, &error)) << error;
  EXPECT_TRUE(d.info.isBundle);
  EXPECT_EQ(uint32_t(kNow), d.info.buildTime);
}

TEST(NpkDescription, FlagKeysOverrideTheirBitOfTheFlagsWord) {
  std::string error;
  PackageDescription d;
  applyDescriptionField("name", "a", "", &d, &error);
  applyDescriptionField("version", "7.1", "", &d, &error);
  applyDescriptionField("flags", "5", "", &d, &error);
  applyDescriptionField("boot-image", "no", "", &d, &error);
  applyDescriptionField("no-meta", "yes", "", &d, &error);
  ASSERT_TRUE(finishDescription(DescriptionKind::kPackage, kNow, &d, &error));
  EXPECT_EQ(0x6u, d.info.headerFlags);
  // A later scalar from the command line replaces the file's.
  applyDescriptionField("flags", "0", "", &d, &error);
  applyDescriptionField("no-meta", "no", "", &d, &error);
  ASSERT_TRUE(finishDescription(DescriptionKind::kPackage, kNow, &d, &error));
  EXPECT_EQ(0x0u, d.info.headerFlags);
}

TEST(NpkDescription, ReadsBuildTimes) {
  uint32_t seconds = 0;
  std::string error;
  EXPECT_TRUE(parseBuildTime("now", kNow, &seconds, &error));
  EXPECT_EQ(uint32_t(kNow), seconds);
  EXPECT_TRUE(parseBuildTime("0", kNow, &seconds, &error));
  EXPECT_EQ(0u, seconds);
  EXPECT_TRUE(parseBuildTime("4294967295", kNow, &seconds, &error));
  EXPECT_EQ(0xFFFFFFFFu, seconds);
  EXPECT_TRUE(parseBuildTime("2024-02-29", kNow, &seconds, &error));
  EXPECT_EQ(1709164800u, seconds);
  EXPECT_TRUE(parseBuildTime("2024-02-29T12:30Z", kNow, &seconds, &error));
  EXPECT_EQ(1709164800u + 12 * 3600 + 30 * 60, seconds);
  // The later half of the range, which a 32-bit time_t cannot hold.
  EXPECT_TRUE(parseBuildTime("2040-01-01", kNow, &seconds, &error)) << error;
  EXPECT_EQ(2208988800u, seconds);
  EXPECT_TRUE(parseBuildTime("2106-02-07 06:28:15", kNow, &seconds, &error)) << error;
  EXPECT_EQ(0xFFFFFFFFu, seconds);
  EXPECT_TRUE(parseBuildTime("2208988800", kNow, &seconds, &error)) << error;
  EXPECT_EQ(2208988800u, seconds);
  for (const char* bad : {"4294967296", "2106-02-07 06:28:16", "2023-02-29", "2100-02-29", "2024-13-01", "2024-01-01 25:00", "1969-12-31",
                          "2024-1-1", "yesterday", "", "2024-01-01 10:00:"}) {
    EXPECT_FALSE(parseBuildTime(bad, kNow, &seconds, &error)) << bad;
  }
}

}  // namespace

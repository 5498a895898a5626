// The npk sources are not part of the unit-test library; this test file
// compiles the one it tests (npk_test_support.h).
#include "version_text.h"

#include <gtest/gtest.h>

namespace {

PackageVersion parsed(const std::string& text) {
  PackageVersion version = 0xDEADBEEF;
  std::string error;
  EXPECT_TRUE(parseVersionText(text, &version, &error)) << text << ": " << error;
  return version;
}

TEST(NpkVersionText, ReadsEveryWrittenForm) {
  EXPECT_EQ(0x07010000u, parsed("7.1"));
  EXPECT_EQ(0x07010005u, parsed("7.1_ab5"));
  EXPECT_EQ(0x0701FFFFu, parsed("7.1_ab65535"));
  EXPECT_EQ(0x07016103u, parsed("7.1alpha3"));
  EXPECT_EQ(0x07016203u, parsed("7.1beta3"));
  EXPECT_EQ(0x07016200u, parsed("7.1beta"));
  EXPECT_EQ(0x07016302u, parsed("7.1rc2"));
  EXPECT_EQ(0x07016605u, parsed("7.1.5"));
  EXPECT_EQ(0x07016600u, parsed("7.1.0"));
  EXPECT_EQ(0xFFFF66FFu, parsed("255.255.255"));
  EXPECT_EQ(0x07016302u, parsed("0x07016302"));
  EXPECT_EQ(0x00000000u, parsed("0.0"));
}

TEST(NpkVersionText, IsTheInverseOfVersionTextForCanonicalVersions) {
  const uint32_t kinds[] = {0x00, 0x01, 0x3F, 0x60, 'a', 'b', 'c', 'f'};
  const uint32_t builds[] = {0, 1, 9, 10, 99, 100, 255};
  int checked = 0;
  for (uint32_t major : {0u, 1u, 6u, 7u, 10u, 255u}) {
    for (uint32_t minor : {0u, 1u, 46u, 255u}) {
      for (uint32_t kind : kinds) {
        for (uint32_t build : builds) {
          PackageVersion version = major << 24 | minor << 16 | kind << 8 | build;
          if (kind == 'f' && build == 0) continue;  // prints as plain "7.1"
          PackageVersion back = 0;
          std::string error;
          ASSERT_TRUE(parseVersionText(versionText(version), &back, &error)) << error;
          EXPECT_EQ(version, back) << versionText(version);
          EXPECT_EQ(versionText(version), versionSpelling(version));
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

TEST(NpkVersionText, SpellsNonCanonicalVersionsInHexadecimal) {
  EXPECT_EQ("0x07016600", versionSpelling(0x07016600));  // final 7.1 reads as "7.1"
  EXPECT_EQ("0x0701640a", versionSpelling(0x0701640A));  // kind 'd' reads as "7.110"
  EXPECT_EQ(0x07016600u, parsed(versionSpelling(0x07016600)));
}

TEST(NpkVersionText, RefusesMalformedText) {
  for (const char* text :
       {"", "7", "7.", "x.1", "7.1.", "7.1_ab", "7.1_ab65536", "7.1rc2x", "7.1rc256", "7.1.256",
        "256.1", "7.256", "7.1gamma1", "7.1-rc2", " 7.1", "7.1 ", "-7.1", "0x", "0x123456789",
        "0xg", "7.1.5.1", "7.1beta-1", "1234567.1"}) {
    PackageVersion version = 0x12345678;
    std::string error;
    EXPECT_FALSE(parseVersionText(text, &version, &error)) << text;
    EXPECT_EQ(0x12345678u, version) << text;
    EXPECT_NE(std::string::npos, error.find("'" + std::string(text) + "'")) << error;
  }
}

}  // namespace

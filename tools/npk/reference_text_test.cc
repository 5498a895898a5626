// Compiles the source it tests (npk_test_support.h).
#include "reference_text.h"

#include <gtest/gtest.h>

namespace {

TEST(NpkReferenceText, ReferencesReadBackFromTheirText) {
  const PackageRef refs[] = {
      {"a", 0, 0, 0},
      {"a", 0x07010000, 0, 0},
      {"a", 0, 0x07020000, 0},
      {"a", 0x07010000, 0x07020000, 0},
      {"a", 0x07016302, 0x07016302, 0},
      {"a", 0x07016600, 0, 0},  // not canonical: spelled in hexadecimal
      {"a-b.c_d+e", 0, 0, -7},
      {"a", 0, 0, 2147483647},
  };
  for (const PackageRef& ref : refs) {
    PackageRef back;
    std::string error;
    std::string text = referenceText(ref, true);
    ASSERT_TRUE(parseReference(text, true, &back, &error)) << text << ": " << error;
    EXPECT_EQ(ref.name, back.name) << text;
    EXPECT_EQ(ref.minVersion, back.minVersion) << text;
    EXPECT_EQ(ref.maxVersion, back.maxVersion) << text;
    EXPECT_EQ(ref.priority, back.priority) << text;
  }
  EXPECT_EQ("a >= 7.1 <= 7.2 priority 3", referenceText({"a", 0x07010000, 0x07020000, 3}, true));
  EXPECT_EQ("a >= 7.1 <= 7.2", referenceText({"a", 0x07010000, 0x07020000, 3}, false));
}

TEST(NpkReferenceText, RefusesMalformedReferences) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "'' is not a package name"},
      {">= 7.1", "'>=' is not a package name"},
      {"a < 7.1", "unknown operator '<' (bounds are inclusive: use >=, <= or =)"},
      {"a >= 7.1 >= 7.2", "a bound is given twice"},
      {"a = 7.1 <= 7.2", "a bound is given twice"},
      {"a >= 7.2 <= 7.1", "the lower bound lies above the upper bound"},
      {"a >=", "'>=' needs a value after it"},
      {"a 7.1", "'7.1' needs a value after it"},
      {"a 7.1 x", "expected >=, <=, = or priority, found '7.1'"},
      {"a priority x", "'x' is not a priority"},
      {"a priority 1 priority 2", "priority given twice"},
      {"a priority 2147483648", "'2147483648' is not a priority"},
      {"abcdefghijklmnopq", "'abcdefghijklmnopq' is not a package name"},
  };
  for (const auto& c : cases) {
    PackageRef ref;
    std::string error;
    EXPECT_FALSE(parseReference(c.first, true, &ref, &error)) << c.first;
    EXPECT_EQ("'" + std::string(c.first) + "': " + c.second, error);
  }
}

}  // namespace

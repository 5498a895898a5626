#include "pdb/display_name.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayName, NamesShowVersionsAndBundles) {
  Package member("dhcp");
  member.version = 0x07010000;
  EXPECT_EQ("dhcp-7.1", displayName(member));
  EXPECT_EQ("dhcp-7.1", progressName(member));
  EXPECT_EQ("bundle", refDisplayName(PackageRef("bundle", 0, 0x07020000)));
  member.bundle = PackageRef("bundle", 0x07020000, 0);
  EXPECT_EQ("bundle-7.2", refDisplayName(member.bundle));
  EXPECT_EQ("bundle-7.2", progressName(member));
}

}  // namespace

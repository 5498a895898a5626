#include "pdb/package.h"

#include <gtest/gtest.h>

namespace {

PackageVersion packed(unsigned major, unsigned minor, unsigned kind, unsigned build) {
  return (major << 24) | (minor << 16) | (kind << 8) | build;
}

PackageInfo record(const std::string& name, PackageVersion version, uint32_t buildTime = 0) {
  PackageInfo info(name);
  info.version = version;
  info.buildTime = buildTime;
  return info;
}

TEST(VersionTextTest, ReadsEveryKindAsTheTableSays) {
  EXPECT_EQ("7.1", versionText(packed(7, 1, 0, 0)));
  EXPECT_EQ("7.1_ab5", versionText(packed(7, 1, 0, 5)));
  EXPECT_EQ("7.1alpha3", versionText(packed(7, 1, 'a', 3)));
  EXPECT_EQ("7.1beta", versionText(packed(7, 1, 'b', 0)));
  EXPECT_EQ("7.1rc2", versionText(packed(7, 1, 'c', 2)));
  EXPECT_EQ("7.1.5", versionText(packed(7, 1, 'f', 5)));
  EXPECT_EQ("7.1", versionText(packed(7, 1, 'f', 0)));
  EXPECT_EQ("7.110", versionText(packed(7, 1, 'd', 10)));
}

TEST(VersionTextTest, KindBoundaryDecidesBetweenOneAndTwoBuildFields) {
  EXPECT_EQ("0.0", versionText(0));
  // Kind 0x60 is still "no kind": the low 16 bits form one number.
  EXPECT_EQ("0.0_ab24577", versionText(0x00006001));
  EXPECT_EQ("0.0_ab256", versionText(0x00000100));
  // Kind 0xFF lies above 0x60: a kind without separator, build 255.
  EXPECT_EQ("0.0255", versionText(0x0000FFFF));
  EXPECT_EQ("0.0alpha", versionText(0x00006100));
  EXPECT_EQ("255.255255", versionText(0xFFFFFFFF));
  EXPECT_EQ("12.34.56", versionText(packed(12, 34, 'f', 56)));
}

TEST(PackageRelationTest, SatisfiesUsesInclusiveBoundsAndExactNames) {
  EXPECT_TRUE(record("dhcp", 0).satisfies(PackageRef("dhcp", 0, 0)));
  EXPECT_TRUE(record("dhcp", 0xFFFFFFFF).satisfies(PackageRef("dhcp", 0, 0)));
  EXPECT_TRUE(record("dhcp", 7).satisfies(PackageRef("dhcp", 7, 9)));
  EXPECT_TRUE(record("dhcp", 9).satisfies(PackageRef("dhcp", 7, 9)));
  EXPECT_FALSE(record("dhcp", 6).satisfies(PackageRef("dhcp", 7, 9)));
  EXPECT_FALSE(record("dhcp", 10).satisfies(PackageRef("dhcp", 7, 9)));
  EXPECT_TRUE(record("dhcp", 10).satisfies(PackageRef("dhcp", 7, 0)));
  EXPECT_FALSE(record("DHCP", 8).satisfies(PackageRef("dhcp", 0, 0)));
  EXPECT_FALSE(record("dhcp2", 8).satisfies(PackageRef("dhcp", 0, 0)));
}

TEST(PackageRelationTest, ProvidesForNeedsOverlappingRanges) {
  PackageInfo open = record("wifi", 1);
  open.provides.push_back(PackageRef("wireless", 0, 0, 0));
  EXPECT_TRUE(open.providesFor(PackageRef("wireless", 50, 60)));
  EXPECT_FALSE(open.providesFor(PackageRef("wifi", 0, 0)));  // own name is not provided

  PackageInfo fromFive = record("wifi", 1);
  fromFive.provides.push_back(PackageRef("wireless", 5, 0, 0));
  EXPECT_FALSE(fromFive.providesFor(PackageRef("wireless", 0, 3)));
  EXPECT_TRUE(fromFive.providesFor(PackageRef("wireless", 0, 0)));
  EXPECT_TRUE(fromFive.providesFor(PackageRef("wireless", 7, 0)));
  EXPECT_TRUE(fromFive.providesFor(PackageRef("wireless", 0, 5)));

  PackageInfo upToFour = record("wifi", 1);
  upToFour.provides.push_back(PackageRef("wireless", 0, 4, 0));
  EXPECT_FALSE(upToFour.providesFor(PackageRef("wireless", 5, 0)));
  EXPECT_TRUE(upToFour.providesFor(PackageRef("wireless", 4, 0)));

  // A later entry of the same name is still tried.
  upToFour.provides.push_back(PackageRef("wireless", 6, 8, 0));
  EXPECT_TRUE(upToFour.providesFor(PackageRef("wireless", 5, 0)));
}

TEST(PackageRelationTest, DependsOnLooksThroughMembersOnBothSides) {
  PackageInfo needsRouting = record("hotspot", 1);
  needsRouting.depends.push_back(PackageRef("routing", 3, 0));
  PackageInfo routing = record("routing", 3);
  PackageInfo oldRouting = record("routing", 2);
  EXPECT_TRUE(needsRouting.dependsOn(routing));
  EXPECT_FALSE(needsRouting.dependsOn(oldRouting));

  PackageInfo provider = record("bgp", 1);
  provider.provides.push_back(PackageRef("routing", 0, 0, 0));
  EXPECT_TRUE(needsRouting.dependsOn(provider));

  PackageInfo bundle = record("suite", 9);
  bundle.members.push_back(&oldRouting);
  EXPECT_FALSE(needsRouting.dependsOn(bundle));
  bundle.members.push_back(&routing);
  EXPECT_TRUE(needsRouting.dependsOn(bundle));

  PackageInfo requiringBundle = record("suite2", 9);
  EXPECT_FALSE(requiringBundle.dependsOn(routing));
  requiringBundle.members.push_back(&needsRouting);
  EXPECT_TRUE(requiringBundle.dependsOn(routing));
}

TEST(PackageRelationTest, ConflictsFollowDeclaredConflictsAndProvidePriorities) {
  PackageInfo installed = record("ppp", 5);
  PackageInfo added = record("pptp", 2);
  EXPECT_FALSE(installed.conflictsWith(added));

  installed.conflicts.push_back(PackageRef("pptp", 0, 1));
  EXPECT_FALSE(installed.conflictsWith(added));  // version outside the conflict
  installed.conflicts[0].maxVersion = 2;
  EXPECT_TRUE(installed.conflictsWith(added));
  EXPECT_FALSE(added.conflictsWith(installed));  // declared on one side only

  // A conflict with a name the newcomer provides.
  PackageInfo base = record("base", 1);
  base.conflicts.push_back(PackageRef("tunnel", 0, 0));
  PackageInfo tunnelProvider = record("gre", 1);
  tunnelProvider.provides.push_back(PackageRef("tunnel", 0, 0, 0));
  EXPECT_TRUE(base.conflictsWith(tunnelProvider));

  // All-ones records are never in conflict.
  PackageInfo placeholder = record("ppp", 0xFFFFFFFF, 0xFFFFFFFF);
  placeholder.conflicts.push_back(PackageRef("pptp", 0, 0));
  EXPECT_TRUE(placeholder.isAllOnes());
  EXPECT_FALSE(placeholder.conflictsWith(added));
  EXPECT_FALSE(installed.conflictsWith(record("pptp", 0xFFFFFFFF, 0xFFFFFFFF)));
  EXPECT_FALSE(record("pptp", 0xFFFFFFFF, 0).isAllOnes());
}

TEST(PackageRelationTest, ProviderOfTheInstalledNameConflictsOnlyWhenItGivesWay) {
  PackageInfo installed = record("dns", 1);
  PackageInfo newcomer = record("unbound", 1);
  newcomer.provides.push_back(PackageRef("dns", 0, 0, 0));
  EXPECT_FALSE(installed.conflictsWith(newcomer));
  newcomer.provides[0].priority = -1;
  EXPECT_TRUE(installed.conflictsWith(newcomer));

  // This rule decides before the declared conflicts with provided names.
  installed.conflicts.push_back(PackageRef("resolver", 0, 0));
  newcomer.provides[0].priority = 0;
  newcomer.provides.push_back(PackageRef("resolver", 0, 0, 0));
  EXPECT_FALSE(installed.conflictsWith(newcomer));
}

TEST(PackageRelationTest, InstalledProviderBlocksByItsPriority) {
  PackageInfo installed = record("unbound", 1);
  installed.provides.push_back(PackageRef("dns", 0, 0, 0));
  EXPECT_TRUE(installed.conflictsWith(record("dns", 1)));
  installed.provides[0].priority = -3;
  EXPECT_FALSE(installed.conflictsWith(record("dns", 1)));

  PackageInfo other = record("dnsmasq", 1);
  other.provides.push_back(PackageRef("dns", 0, 0, -3));
  EXPECT_FALSE(installed.conflictsWith(other));  // equal priorities
  EXPECT_FALSE(other.conflictsWith(installed));
  installed.provides[0].priority = 4;
  other.provides[0].priority = 3;
  EXPECT_TRUE(installed.conflictsWith(other));  // strictly higher, installed side
  EXPECT_FALSE(other.conflictsWith(installed));
  other.provides[0].priority = 4;
  EXPECT_FALSE(installed.conflictsWith(other));
}

TEST(PackageRelationTest, BundleMembersTakePartInConflictsAndNames) {
  PackageInfo installed = record("routing", 1);
  PackageInfo member = record("routing", 2);
  PackageInfo bundle = record("suite", 2);
  EXPECT_FALSE(installed.conflictsWith(bundle));
  bundle.members.push_back(&member);
  EXPECT_TRUE(installed.conflictsWith(bundle));
  EXPECT_TRUE(bundle.hasName("routing"));
  EXPECT_FALSE(bundle.hasName("Routing"));
  EXPECT_FALSE(member.hasName("suite"));

  PackageInfo conflictingMember = record("legacy", 1);
  conflictingMember.conflicts.push_back(PackageRef("ipv6", 0, 0));
  PackageInfo installedBundle = record("oldsuite", 1);
  installedBundle.members.push_back(&conflictingMember);
  EXPECT_TRUE(installedBundle.conflictsWith(record("ipv6", 3)));
  EXPECT_FALSE(installedBundle.conflictsWith(record("ipv4", 3)));
}

TEST(ComparePackagesTest, OrdersByVersionThenBuildTime) {
  EXPECT_EQ(0, comparePackages(record("dhcp", 7, 100), record("dhcp", 7, 100)));
  EXPECT_EQ(1, comparePackages(record("dhcp", 7, 101), record("dhcp", 7, 100)));
  EXPECT_EQ(-1, comparePackages(record("dhcp", 7, 100), record("dhcp", 7, 101)));
  EXPECT_EQ(-1, comparePackages(record("dhcp", 6, 900), record("dhcp", 7, 100)));
  EXPECT_EQ(1, comparePackages(record("dhcp", 0x80000000u, 0), record("dhcp", 7, 100)));
  EXPECT_EQ(0, comparePackages(record("dhcp", 6), record("ntp", 7)));
}

TEST(ComparePackagesTest, ComparesABundleThroughItsMemberOfTheSameName) {
  PackageInfo otherMember = record("ntp", 1, 1);
  PackageInfo member = record("dhcp", 9, 50);
  PackageInfo bundle = record("suite", 1, 1);
  bundle.members = {&otherMember, &member};
  PackageInfo standalone = record("dhcp", 8, 999);
  EXPECT_EQ(1, comparePackages(bundle, standalone));
  EXPECT_EQ(-1, comparePackages(standalone, bundle));
  standalone.version = 9;
  standalone.buildTime = 50;
  EXPECT_EQ(0, comparePackages(bundle, standalone));
  EXPECT_EQ(0, comparePackages(bundle, record("snmp", 1)));
}

TEST(ActionWordTest, NamesEveryActionAndNothingElse) {
  EXPECT_STREQ("", actionWord(kActionNone));
  EXPECT_STREQ("uninstall", actionWord(kActionUninstall));
  EXPECT_STREQ("enable", actionWord(kActionEnable));
  EXPECT_STREQ("disable", actionWord(kActionDisable));
  EXPECT_STREQ("", actionWord(4));
  EXPECT_STREQ("", actionWord(-1));
}

}  // namespace

namespace {

// Long provides lists are looked up through an index; the answers must be
// those of the plain scan: the first of our names that the other package
// also provides decides, by the first such entry on its side.
TEST(PackageRelationTest, LongProvidesListsDecideAsShortOnes) {
  PackageInfo ours = record("ours", 1);
  PackageInfo theirs = record("theirs", 1);
  for (int i = 0; i < 5000; ++i) {
    ours.provides.push_back(PackageRef("o" + std::to_string(i), 0, 0, 0));
    theirs.provides.push_back(PackageRef("t" + std::to_string(i), 0, 0, 0));
  }
  EXPECT_FALSE(ours.conflictsWith(theirs));
  theirs.provides.push_back(PackageRef("o4000", 0, 0, 2));
  theirs.provides.push_back(PackageRef("o4000", 0, 0, -9));
  theirs.provides.push_back(PackageRef("o10", 0, 0, 7));
  ours.provides[10].priority = 5;
  ours.provides[4000].priority = 9;
  // o10 comes first on our side; theirs has 7 > 5.
  EXPECT_FALSE(ours.conflictsWith(theirs));
  ours.provides[10].priority = 8;
  EXPECT_TRUE(ours.conflictsWith(theirs));
  // Without o10 on their side, o4000 decides by their first entry (2).
  theirs.provides.pop_back();
  ours.provides[4000].priority = 2;
  EXPECT_FALSE(ours.conflictsWith(theirs));
  ours.provides[4000].priority = 3;
  EXPECT_TRUE(ours.conflictsWith(theirs));

  // A long conflicts list against a long provides list.
  PackageInfo strict = record("strict", 1);
  for (int i = 0; i < 5000; ++i) strict.conflicts.push_back(PackageRef("x" + std::to_string(i), 5, 9));
  EXPECT_FALSE(strict.conflictsWith(theirs));
  theirs.provides.push_back(PackageRef("x4999", 10, 0));
  EXPECT_FALSE(strict.conflictsWith(theirs));  // the ranges do not meet
  theirs.provides.push_back(PackageRef("x4999", 0, 6));
  EXPECT_TRUE(strict.conflictsWith(theirs));
}

}  // namespace

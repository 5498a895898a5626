#include "pdb/display_name.h"
#include "resolve/selection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "pdb/package_db.h"
#include "resolve/package_file.h"

namespace {

using Messages = std::vector<std::string>;

PackageVersion version(unsigned major, unsigned minor) { return major << 24 | minor << 16; }

class SelectionTest : public testing::Test {
 protected:
  // A candidate file record kept alive for the whole test.
  PackageFile* file(const std::string& name, PackageVersion packageVersion, uint32_t buildTime = 100) {
    records_.push_back(std::make_unique<PackageFile>("/flash/rw/pckg/" + name + ".npk"));
    PackageFile* record = records_.back().get();
    record->name = name;
    record->version = packageVersion;
    record->buildTime = buildTime;
    return record;
  }

  PackageFile* bundle(const std::string& name, PackageVersion packageVersion,
                      const std::vector<std::string>& memberNames, PackageVersion memberVersion) {
    PackageFile* record = file(name, packageVersion);
    record->isBundle = true;
    for (const std::string& memberName : memberNames) {
      auto member = std::make_unique<PackageInfo>(memberName);
      member->version = memberVersion;
      member->buildTime = 100;
      record->addMember(std::move(member));
    }
    return record;
  }

  // Runs the selection and returns the survivors' display names, in order.
  std::vector<std::string> select(std::vector<PackageInfo*> list,
                                  PackageVersion limit = kNoDowngradeLimit, bool verbose = true) {
    db_.messages.clear();
    testing::internal::CaptureStdout();
    selectCandidates(db_, list, limit, verbose);
    testing::internal::GetCapturedStdout();
    std::vector<std::string> names;
    for (const PackageInfo* record : list) names.push_back(displayName(*record));
    return names;
  }

  PackageDb db_;

 private:
  std::vector<std::unique_ptr<PackageFile>> records_;
};

using Names = std::vector<std::string>;

TEST_F(SelectionTest, NewerFileOfAPackageWinsWithoutALimit) {
  PackageFile* older = file("foo", version(1, 1));
  PackageFile* newer = file("foo", version(1, 2));
  for (const auto& list : {std::vector<PackageInfo*>{older, newer}, std::vector<PackageInfo*>{newer, older}}) {
    EXPECT_EQ(Names{"foo-1.2"}, select(list));
    EXPECT_EQ(Messages{"WARNING: omitting package foo-1.1: newer package is already provided"},
              db_.messages);
  }
}

TEST_F(SelectionTest, LaterBuildOfTheSameVersionWins) {
  PackageFile* early = file("foo", version(1, 1), 100);
  PackageFile* late = file("foo", version(1, 1), 101);
  std::vector<PackageInfo*> list{late, early};
  selectCandidates(db_, list, kNoDowngradeLimit, false);
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(late, list[0]);
}

TEST_F(SelectionTest, ALimitPrefersTheOlderFile) {
  std::vector<PackageInfo*> list{file("foo", version(1, 1)), file("foo", version(1, 2))};
  EXPECT_EQ(Names{"foo-1.1"}, select(list, version(1, 0)));
  EXPECT_EQ(Messages{"WARNING: omitting package foo-1.2: older package is already provided"},
            db_.messages);

  // A limit of 0 (an unreadable limit file) drops nothing but still
  // reverses the preference.
  EXPECT_EQ(Names{"foo-1.1"}, select(list, 0));
}

TEST_F(SelectionTest, RecordsBelowTheLimitTakeNoPartInTheChoice) {
  // The dropped 1.1 would otherwise push out 1.2 as the older one and
  // leave nothing of the package.
  std::vector<PackageInfo*> list{file("foo", version(1, 1)), file("foo", version(1, 2))};
  EXPECT_EQ(Names{"foo-1.2"}, select(list, version(1, 2)));
  EXPECT_EQ(Messages{"WARNING: ommitting package foo-1.1: not allowed"}, db_.messages);
  EXPECT_EQ(Names{"foo-1.2"}, select({list[1], list[0]}, version(1, 2)));
  EXPECT_EQ(Messages{"WARNING: ommitting package foo-1.1: not allowed"}, db_.messages);

  // Among the allowed records the oldest is still preferred.
  list.push_back(file("foo", version(1, 3)));
  EXPECT_EQ(Names{"foo-1.2"}, select(list, version(1, 2)));
  EXPECT_EQ((Messages{"WARNING: ommitting package foo-1.1: not allowed",
                      "WARNING: omitting package foo-1.3: older package is already provided"}),
            db_.messages);

  // A bundle below the limit does not push out its standalone member.
  PackageFile* oldBundle = bundle("routing", version(1, 0), {"foo"}, version(1, 0));
  EXPECT_EQ(Names{"foo-1.2"}, select({oldBundle, list[1]}, version(1, 2)));
  EXPECT_EQ(Messages{"WARNING: ommitting package routing-1.0: not allowed"}, db_.messages);
}

TEST_F(SelectionTest, VerboseOffSilencesOnlyTheAlreadyProvidedWarnings) {
  std::vector<PackageInfo*> list{file("foo", version(1, 0)), file("foo", version(1, 1)),
                                 file("foo", version(1, 2))};
  EXPECT_EQ(Names{"foo-1.2"}, select(list, kNoDowngradeLimit, false));
  EXPECT_EQ(Messages(), db_.messages);

  // 1.0 is below the limit; of the others the older is preferred, silently.
  EXPECT_EQ(Names{"foo-1.1"}, select(list, version(1, 1), false));
  EXPECT_EQ(Messages{"WARNING: ommitting package foo-1.0: not allowed"}, db_.messages);
}

TEST_F(SelectionTest, OfEqualRecordsTheFirstIsKeptSilently) {
  PackageFile* first = file("foo", version(1, 0));
  PackageFile* second = file("foo", version(1, 0));
  PackageFile* third = file("foo", version(1, 0));
  std::vector<PackageInfo*> list{second, first, third};
  testing::internal::CaptureStdout();
  selectCandidates(db_, list, kNoDowngradeLimit, true);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ(std::vector<PackageInfo*>{second}, list);
  EXPECT_EQ(Messages(), db_.messages);

  // Equal records still lose to a newer one, and under a limit to an older
  // one. The later equal record meets the earlier one first and goes
  // silently.
  PackageFile* newer = file("foo", version(1, 1));
  EXPECT_EQ(Names{"foo-1.1"}, select({first, second, newer}));
  EXPECT_EQ(Messages{"WARNING: omitting package foo-1.0: newer package is already provided"},
            db_.messages);
  list = {newer, first, second};
  selectCandidates(db_, list, version(1, 0), false);
  EXPECT_EQ(std::vector<PackageInfo*>{first}, list);
}

TEST_F(SelectionTest, BundleBeatsAnEqualStandaloneMember) {
  PackageFile* routing = bundle("routing", version(1, 0), {"bgp", "foo"}, version(1, 0));
  PackageFile* foo = file("foo", version(1, 0));
  EXPECT_EQ(Names{"routing-1.0"}, select({routing, foo}));
  EXPECT_EQ(Messages(), db_.messages);
  EXPECT_EQ(Names{"routing-1.0"}, select({foo, routing}));
  EXPECT_EQ(Messages(), db_.messages);

  // Of two equal bundles of one name the first is kept, whatever the
  // standalone records around them.
  PackageFile* again = bundle("routing", version(1, 0), {"bgp", "foo"}, version(1, 0));
  std::vector<PackageInfo*> list{foo, again, routing};
  selectCandidates(db_, list, kNoDowngradeLimit, true);
  EXPECT_EQ(std::vector<PackageInfo*>{again}, list);
  EXPECT_EQ(Messages(), db_.messages);
}

TEST_F(SelectionTest, NewerStandaloneMemberBeatsTheBundle) {
  PackageFile* routing = bundle("routing", version(1, 0), {"bgp", "foo"}, version(1, 0));
  PackageFile* foo = file("foo", version(1, 1));
  EXPECT_EQ(Names{"foo-1.1"}, select({routing, foo}));
  EXPECT_EQ(Messages{"WARNING: omitting package routing-1.0: newer package is already provided"},
            db_.messages);
  EXPECT_EQ(Names{"foo-1.1"}, select({foo, routing}, kNoDowngradeLimit, false));
  EXPECT_EQ(Messages(), db_.messages);

  // Under a limit the bundle's older member is preferred.
  EXPECT_EQ(Names{"routing-1.0"}, select({routing, foo}, version(1, 0)));
  EXPECT_EQ(Messages{"WARNING: omitting package foo-1.1: older package is already provided"},
            db_.messages);

  // The bundle's own version plays no part; its member's does.
  PackageFile* newBundleOldMember = bundle("routing", version(9, 0), {"foo"}, version(0, 9));
  EXPECT_EQ(Names{"foo-1.1"}, select({newBundleOldMember, foo}));
}

TEST_F(SelectionTest, NewerBundleBeatsAnOlderStandaloneMember) {
  PackageFile* routing = bundle("routing", version(1, 0), {"foo"}, version(1, 2));
  PackageFile* foo = file("foo", version(1, 1));
  EXPECT_EQ(Names{"routing-1.0"}, select({foo, routing}));
  EXPECT_EQ(Messages{"WARNING: omitting package foo-1.1: newer package is already provided"},
            db_.messages);
}

TEST_F(SelectionTest, UnrelatedSurvivorsComeOutReversed) {
  EXPECT_EQ((Names{"r-1.0", "q-1.0", "p-1.0"}),
            select({file("p", version(1, 0)), file("q", version(1, 0)), file("r", version(1, 0))}));
  EXPECT_EQ(Messages(), db_.messages);
}

TEST_F(SelectionTest, APackageFollowsWhatItDependsOn) {
  PackageFile* p = file("p", version(1, 0));
  PackageFile* q = file("q", version(1, 0));
  q->depends.push_back(PackageRef("p", 0, 0));
  EXPECT_EQ((Names{"p-1.0", "q-1.0"}), select({q, p}));
  EXPECT_EQ((Names{"p-1.0", "q-1.0"}), select({p, q}));

  // A chain in either input order; an unrelated record goes in front.
  PackageFile* r = file("r", version(1, 0));
  r->depends.push_back(PackageRef("q", version(1, 0), version(1, 0)));
  PackageFile* u = file("u", version(1, 0));
  EXPECT_EQ((Names{"u-1.0", "p-1.0", "q-1.0", "r-1.0"}), select({r, q, p, u}));
  EXPECT_EQ((Names{"u-1.0", "p-1.0", "q-1.0", "r-1.0"}), select({p, q, r, u}));
  // Inserted right after the last element it depends on, from the end.
  EXPECT_EQ((Names{"u-1.0", "p-1.0", "q-1.0"}), select({p, u, q}));
  PackageFile* both = file("both", version(1, 0));
  both->depends = {PackageRef("p", 0, 0), PackageRef("u", 0, 0)};
  EXPECT_EQ((Names{"u-1.0", "p-1.0", "both-1.0"}), select({p, u, both}));
  EXPECT_EQ((Names{"p-1.0", "u-1.0", "both-1.0"}), select({u, p, both}));

  // A dependency met through a provides entry.
  PackageFile* impl = file("impl", version(1, 0));
  impl->provides.push_back(PackageRef("api", 0, 0));
  PackageFile* user = file("user", version(1, 0));
  user->depends.push_back(PackageRef("api", 0, 0));
  EXPECT_EQ((Names{"impl-1.0", "user-1.0"}), select({user, impl}));
}

TEST_F(SelectionTest, APackageFollowsWhatConflictsWithIt) {
  PackageFile* old = file("old", version(1, 0));
  PackageFile* replacement = file("new", version(1, 0));
  old->conflicts.push_back(PackageRef("new", 0, 0));
  EXPECT_EQ((Names{"old-1.0", "new-1.0"}), select({old, replacement}));
  // In either input order the package that forbids the other comes first.
  EXPECT_EQ((Names{"old-1.0", "new-1.0"}), select({replacement, old}));
}

TEST_F(SelectionTest, BundlesOrderThroughTheirMembers) {
  PackageFile* routing = bundle("routing", version(1, 0), {"bgp", "ospf"}, version(1, 0));
  PackageFile* tool = file("tool", version(1, 0));
  tool->depends.push_back(PackageRef("ospf", 0, 0));
  EXPECT_EQ((Names{"routing-1.0", "tool-1.0"}), select({tool, routing}));

  // A bundle whose member depends on a standalone package follows it.
  PackageFile* lib = file("lib", version(1, 0));
  routing->members[0]->depends.push_back(PackageRef("lib", 0, 0));
  EXPECT_EQ((Names{"lib-1.0", "routing-1.0"}), select({routing, lib}));
}

TEST_F(SelectionTest, RelatedOnlyThroughAMemberNameOrTheRecordName) {
  // A standalone record named like a bundle is compared with the bundle
  // itself.
  PackageFile* routing = bundle("routing", version(2, 0), {"bgp"}, version(1, 0));
  PackageFile* oldRouting = file("routing", version(1, 0));
  EXPECT_EQ(Names{"routing-2.0"}, select({oldRouting, routing}));

  // Different bundles sharing a member name are not related by name: both
  // survive, the later one placed after the one whose member it replaces.
  PackageFile* other = bundle("extras", version(1, 0), {"bgp"}, version(3, 0));
  EXPECT_EQ((Names{"routing-2.0", "extras-1.0"}), select({routing, other}));
  EXPECT_EQ((Names{"extras-1.0", "routing-2.0"}), select({other, routing}));
}

TEST_F(SelectionTest, WorksOnOwningAndDerivedLists) {
  int destroyed = 0;
  struct Counted : PackageInfo {
    Counted(const std::string& name, PackageVersion v, int* counter) : PackageInfo(name), counter_(counter) {
      version = v;
    }
    ~Counted() override { ++*counter_; }
    int* counter_;
  };
  std::vector<std::unique_ptr<Counted>> owned;
  owned.push_back(std::make_unique<Counted>("foo", version(1, 0), &destroyed));
  owned.push_back(std::make_unique<Counted>("foo", version(2, 0), &destroyed));
  owned.push_back(std::make_unique<Counted>("bar", version(1, 0), &destroyed));
  Counted* newest = owned[1].get();
  testing::internal::CaptureStdout();
  selectCandidates(db_, owned, kNoDowngradeLimit, true);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(2u, owned.size());
  EXPECT_EQ("bar", owned[0]->name);
  EXPECT_EQ(newest, owned[1].get());
  EXPECT_EQ(1, destroyed);

  // Raw pointers to installed records: dropped ones are left alone.
  Package unversioned("foo");
  Package versioned("foo");
  versioned.version = version(1, 0);
  std::vector<Package*> installed{&versioned, &unversioned};
  selectCandidates(db_, installed, kNoDowngradeLimit, false);
  EXPECT_EQ(std::vector<Package*>{&versioned}, installed);
}

}  // namespace

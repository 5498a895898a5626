#include "resolve/name_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pdb/package_db.h"

namespace {

Package* addPackage(PackageDb& db, const std::string& name, PackageVersion version) {
  Package* package = new Package(name);
  package->version = version;
  package->buildTime = 1;
  db.packages.push_back(package);
  return package;
}

TEST(NameIndexTest, ProvidersAndRelatedRecordsInDatabaseOrder) {
  PackageDb db;
  Package* oldDns = addPackage(db, "dns", 3);
  Package* resolver = addPackage(db, "resolver", 1);
  resolver->provides.push_back(PackageRef("dns", 5, 9, 2));
  resolver->provides.push_back(PackageRef("dns", 0, 0, 1));
  Package* blocker = addPackage(db, "blocker", 1);
  blocker->conflicts.push_back(PackageRef("dns", 0, 0));
  Package* placeholder = addPackage(db, "dns", 0xFFFFFFFF);
  placeholder->buildTime = 0xFFFFFFFF;
  Package* newDns = addPackage(db, "dns", 7);
  NameIndex names(db.packages);

  EXPECT_EQ(oldDns, names.first("dns"));
  EXPECT_EQ(nullptr, names.first("dn"));
  // A record that forbids the name, or an all-ones one, is no provider;
  // one that provides it twice is listed once.
  EXPECT_EQ((std::vector<Package*>{oldDns, resolver, newDns}),
            names.providersOf(PackageRef("dns", 0, 0)));
  EXPECT_EQ((std::vector<Package*>{resolver, newDns}), names.providersOf(PackageRef("dns", 6, 8)));
  EXPECT_EQ((std::vector<Package*>{resolver}), names.providersOf(PackageRef("resolver", 1, 1)));
  EXPECT_TRUE(names.providersOf(PackageRef("blocker", 2, 0)).empty());
  EXPECT_TRUE(names.providersOf(PackageRef("ntp", 0, 0)).empty());
  EXPECT_EQ((std::vector<Package*>{oldDns, resolver, blocker, placeholder, newDns}),
            names.related(*oldDns));
  // The forbidden name relates the blocker to every record bearing it.
  EXPECT_EQ(names.related(*oldDns), names.related(*blocker));
  Package* loner = addPackage(db, "ntp", 1);
  EXPECT_TRUE(NameIndex(db.packages).related(*loner) == std::vector<Package*>{loner});
}

// On a database of many overlapping names, versions and ranges, every
// lookup answers what the walks of the whole database answer.
TEST(NameIndexTest, AnswersAsTheWalksOfTheDatabaseDo) {
  const std::vector<std::string> pool = {"a", "b", "c", "d", "e"};
  PackageDb db;
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  for (int i = 0; i < 80; ++i) {
    Package* package = addPackage(db, pool[next(5)], next(6));
    if (next(8) == 0) package->version = package->buildTime = 0xFFFFFFFF;
    for (uint32_t n = next(3); n > 0; --n) {
      package->provides.push_back(PackageRef(pool[next(5)], next(4), next(7), 0));
    }
    if (next(3) == 0) package->conflicts.push_back(PackageRef(pool[next(5)], 0, 0));
  }
  NameIndex names(db.packages);
  for (const char* name : {"a", "b", "c", "d", "e", "f", ""}) {
    EXPECT_EQ(db.find(name), names.first(name)) << name;
    for (PackageVersion low = 0; low < 7; ++low) {
      for (PackageVersion high = 0; high < 7; ++high) {
        PackageRef ref(name, low, high);
        EXPECT_EQ(db.providersOf(ref), names.providersOf(ref)) << name << " " << low << " " << high;
      }
    }
  }
  for (const Package* q : db.packages) {
    std::vector<Package*> related = names.related(*q);
    for (Package* p : db.packages) {
      bool sharesName = p->hasName(q->name) || p->providesFor(PackageRef(q->name, 0, 0)) ||
                        q->providesFor(PackageRef(p->name, 0, 0)) || q->conflictsWith(*p) ||
                        p->conflictsWith(*q);
      if (sharesName) {
        EXPECT_NE(related.end(), std::find(related.begin(), related.end(), p)) << q->name;
      }
    }
  }
}

}  // namespace

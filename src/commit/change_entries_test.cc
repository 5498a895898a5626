#include "commit/change_entries.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

typedef std::map<std::string, ChangeAction> Reference;

std::string describe(const std::string& target, const ChangeAction& action, bool device = true) {
  return std::to_string(static_cast<int>(action.kind)) + " " + target + " <" + action.source + "> " +
         (!device ? "" : action.sourceDeviceKnown ? std::to_string(action.sourceDevice) : "?") + "\n";
}

template <typename Entries>
std::string walk(const Entries& entries, bool devices = true) {
  std::string all;
  for (const auto& entry : entries) all += describe(entry.first, entry.second, devices);
  return all;
}

ChangeAction staged(const std::string& source, uint64_t device) {
  return ChangeAction{ChangeKind::MoveStaged, source, true, device};
}

TEST(ChangeEntries, RecordsReplacesDropsAndWalksAsAMapOfStringsWould) {
  // Random targets with repeats, prefixes of each other and bytes above
  // 0x7f; enough of them to grow the index and, in the second half, to
  // drop most entries again, so that the storage is rebuilt.
  ChangeEntries entries;
  Reference reference;
  uint32_t seed = 11;
  for (int i = 0; i < 24000; ++i) {
    seed = seed * 1103515245u + 12345u;
    std::string target = "/flash/d" + std::to_string(seed % 13) + "/f" + std::to_string((seed >> 8) % 4000);
    if (seed % 5 == 0) target += "\xc3\xa9";
    if (seed % 7 == 0) target = target.substr(0, target.size() / 2);
    bool dropping = i > 12000 ? seed % 4 != 0 : seed % 9 == 0;
    if (dropping) {
      EXPECT_EQ(reference.erase(target) == 1, entries.erase(target)) << target;
    } else {
      ChangeAction action;
      switch ((seed >> 4) % 4) {
        case 0: action = staged("/flash/var/pdb/.staging/tmp" + std::to_string(i), 3); break;
        case 1: action = ChangeAction{ChangeKind::Symlink, "../lib/l" + std::to_string(i)}; break;
        case 2: action = ChangeAction{ChangeKind::Move, "/ram/tmp" + std::to_string(i)}; break;
        default: action = ChangeAction{ChangeKind::Remove, ""}; break;
      }
      reference[target] = action;
      entries.put(target, action);
    }
    if (i % 3000 == 0 || i == 23999) {
      ASSERT_EQ(reference.size(), entries.size());
      ASSERT_EQ(walk(reference), walk(entries)) << "after " << i;
    }
  }
  // Most entries dropped: the storage is rebuilt without them.
  size_t n = 0;
  for (auto it = reference.begin(); it != reference.end();) {
    if (n++ % 10 == 0) {
      ++it;
      continue;
    }
    ASSERT_TRUE(entries.erase(it->first));
    it = reference.erase(it);
  }
  ASSERT_EQ(walk(reference), walk(entries));
  for (const auto& entry : reference) {
    ChangeAction found;
    ASSERT_TRUE(entries.lookup(entry.first, &found)) << entry.first;
    EXPECT_EQ(describe(entry.first, entry.second), describe(entry.first, found));
    EXPECT_EQ(entry.first, entries.find(entry.first)->first);
    EXPECT_EQ(1u, entries.count(entry.first));
  }
  ChangeAction untouched{ChangeKind::Symlink, "kept"};
  EXPECT_FALSE(entries.lookup("/flash/none", &untouched));
  EXPECT_EQ("kept", untouched.source);
  EXPECT_TRUE(entries.find("/flash/none") == entries.end());
  EXPECT_EQ(0u, entries.count("/flash/none"));
}

TEST(ChangeEntries, AReplacedEntryKeepsItsPlaceAndTakesEveryFieldOfTheNewOne) {
  ChangeEntries entries;
  entries.put("/flash/b", staged("/flash/.staging/tmp1", 7));
  entries.put("/flash/a", ChangeAction{ChangeKind::Remove, ""});
  entries.put("/flash/c", ChangeAction{ChangeKind::Symlink, "b"});
  entries.put("/flash/b", ChangeAction{ChangeKind::Move, "/ram/x"});
  entries.put("/flash/a", staged("/ram/tmp2", 9));
  EXPECT_EQ("1 /flash/a </ram/tmp2> 9\n"
            "0 /flash/b </ram/x> ?\n"
            "3 /flash/c <b> ?\n",
            walk(entries));
  auto b = entries.find("/flash/b");
  ASSERT_TRUE(b != entries.end());
  EXPECT_EQ("/flash/c", (++b)->first);
  EXPECT_EQ(ChangeKind::Move, entries.at("/flash/b").kind);
  EXPECT_TRUE(entries.erase("/flash/b"));
  EXPECT_FALSE(entries.erase("/flash/b"));
  EXPECT_EQ("/flash/c", (++entries.begin())->first);
  entries.clear();
  EXPECT_TRUE(entries.empty());
  EXPECT_TRUE(entries.begin() == entries.end());
}

TEST(ChangeEntries, SourcesComeBackWholeBeyondTheSharedTablesAndCopiesStandAlone) {
  // More source directories and devices than the tables keep, a source
  // that is only a directory, an empty one and a path longer than a block.
  ChangeEntries entries;
  Reference reference;
  std::string longPath = "/flash/" + std::string(200000, 'x');
  for (int i = 0; i < 600; ++i) {
    std::string target = "/flash/t" + std::to_string(i);
    std::string source = "/ram/d" + std::to_string(i % 300) + "/" + (i % 50 == 0 ? "" : "tmp" + std::to_string(i));
    ChangeAction action = staged(source, 1000 + i % 300);
    entries.put(target, action);
    reference[target] = action;
  }
  entries.put(longPath, ChangeAction{ChangeKind::Symlink, longPath});
  reference[longPath] = ChangeAction{ChangeKind::Symlink, longPath};
  entries.put("/flash/empty", ChangeAction{ChangeKind::Remove, ""});
  reference["/flash/empty"] = ChangeAction{ChangeKind::Remove, ""};

  ChangeEntries copy(entries);
  entries.put("/flash/t1", ChangeAction{ChangeKind::Remove, ""});
  ASSERT_EQ(reference.size(), copy.size());
  for (const auto& entry : copy) {
    const ChangeAction& expected = reference[entry.first];
    EXPECT_EQ(expected.kind, entry.second.kind) << entry.first;
    EXPECT_EQ(expected.source, entry.second.source) << entry.first;
    // A device the table cannot keep comes back unknown, never wrong.
    if (entry.second.sourceDeviceKnown) {
      EXPECT_EQ(expected.sourceDevice, entry.second.sourceDevice);
    }
  }
  EXPECT_TRUE(copy.at("/flash/t0").sourceDeviceKnown);
  EXPECT_EQ(ChangeKind::MoveStaged, copy.at("/flash/t1").kind);
  EXPECT_EQ(ChangeKind::Remove, entries.at("/flash/t1").kind);

  // More directories than the table numbers: the later paths are kept
  // whole, and still sort among the others.
  for (int i = 0; i < 70000; ++i) {
    std::string target = "/flash/x" + std::to_string(i * 7919 % 70000) + "/f";
    ChangeAction action{ChangeKind::Move, "/ram/y" + std::to_string(i) + "/s"};
    copy.put(target, action);
    reference[target] = action;
  }
  ASSERT_TRUE(walk(reference, false) == walk(copy, false));
  EXPECT_TRUE(copy.erase("/flash/x69999/f"));
  EXPECT_EQ(ChangeKind::Move, copy.at("/flash/x1/f").kind);
}

}  // namespace

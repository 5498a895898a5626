#include "pdb/database_listing.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/root_runner.h"
#include "support/temp_dir.h"
#include "support/unreadable_directory.h"

namespace {

using testing_support::TempDir;
using testing_support::UnreadableDirectory;

const char* const kLoaderFiles[] = {"image",  "version", "deps",     "provides", "conflicts",
                                    "bundle", "files",   "disabled", "enabled"};

// The loader's files that `contents` may hold, in the order above.
std::string heldFiles(const EntryContents& contents) {
  std::string held;
  for (const char* name : kLoaderFiles) {
    if (contents.mayHold(name)) held += std::string(held.empty() ? "" : " ") + name;
  }
  return held;
}

std::vector<std::string> entryNames(const DatabaseListing& listing) {
  std::vector<std::string> names;
  for (const DatabaseListing::Entry& entry : listing.entries()) names.push_back(entry.name);
  return names;
}

class DatabaseListingTest : public ::testing::Test {
 protected:
  void put(const std::string& relative, const std::string& content = "") {
    ASSERT_TRUE(testing_support::writeFile(dir_.file(relative), content)) << relative;
  }
  std::string root() const { return dir_.file("pdb/"); }

  TempDir dir_;
};

TEST_F(DatabaseListingTest, DirectoryNamesHoldWhatWasListed) {
  put("d/schedule");
  put("d/Name-1/schedule");
  DirectoryNames names(dir_.file("d/"));
  EXPECT_TRUE(names.mayHold("schedule"));
  EXPECT_TRUE(names.mayHold("Name-1"));
  EXPECT_FALSE(names.mayHold("Name"));
  EXPECT_FALSE(names.mayHold("name-1"));
  EXPECT_FALSE(names.mayHold(""));
  // Absent, or a file: nothing below it.
  EXPECT_FALSE(DirectoryNames(dir_.file("none/")).mayHold("schedule"));
  EXPECT_FALSE(DirectoryNames(dir_.file("d/schedule/")).mayHold("schedule"));
  // Not listed: anything may be there.
  EXPECT_TRUE(DirectoryNames().mayHold("schedule"));
}

TEST_F(DatabaseListingTest, EntryContentsKnowOnlyTheLoadersFiles) {
  put("e/version", "1 2\n");
  put("e/files");
  put("e/disabled");
  put("e/notes");
  ASSERT_TRUE(testing_support::makeDirs(dir_.file("e/image")));
  EntryContents contents = EntryContents::ofDirectory(dir_.file("e/"));
  // A directory named like a file is listed; opening it is the reader's
  // business.
  EXPECT_EQ("image version files disabled", heldFiles(contents));
  EXPECT_FALSE(contents.mayHold("notes"));
  EXPECT_FALSE(contents.mayHold("."));
  EXPECT_EQ("", heldFiles(EntryContents::ofDirectory(dir_.file("none/"))));
  EXPECT_EQ("", heldFiles(EntryContents::ofDirectory(dir_.file("e/version/"))));
  EXPECT_EQ("image version deps provides conflicts bundle files disabled enabled",
            heldFiles(EntryContents()));
  EXPECT_FALSE(EntryContents().mayHold("notes"));
}

// Every entry is found by its name, whatever the system's order; a name
// that is no entry is listed when asked for, even one that is a path.
TEST_F(DatabaseListingTest, EntriesAndTheirContentsByName) {
  const std::vector<std::string> names = {"zeta", "alpha", "m-1", "m_1", "M1", "b", "bb", "a b"};
  for (size_t i = 0; i < names.size(); ++i) {
    put("pdb/" + names[i] + "/version");
    if (i % 2 == 0) put("pdb/" + names[i] + "/files");
  }
  put("pdb/.hidden/version");
  put("pdb/plain");
  put("pdb/alpha/sub/deps");
  put("pdb/deps");

  DatabaseListing listing;
  ASSERT_TRUE(listing.list(root()));
  EXPECT_EQ(0, listing.readError());
  std::vector<std::string> listed = entryNames(listing);
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected = names;
  expected.push_back("plain");
  expected.push_back("deps");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, listed);
  for (const DatabaseListing::Entry& entry : listing.entries()) {
    EXPECT_EQ(heldFiles(entry.contents), heldFiles(listing.contentsOf(entry.name))) << entry.name;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(i % 2 == 0 ? "version files" : "version", heldFiles(listing.contentsOf(names[i])))
        << names[i];
  }
  EXPECT_EQ("", heldFiles(listing.contentsOf("plain")));
  EXPECT_EQ("", heldFiles(listing.contentsOf("absent")));
  EXPECT_EQ("", heldFiles(listing.contentsOf("alph")));
  EXPECT_EQ("version", heldFiles(listing.contentsOf(".hidden")));
  EXPECT_EQ("deps", heldFiles(listing.contentsOf("alpha/sub")));
  EXPECT_EQ("deps", heldFiles(listing.contentsOf("")));

  // Listed again, the listing is of the directory as it is now.
  put("pdb/new/enabled");
  ASSERT_TRUE(listing.list(root()));
  EXPECT_EQ(expected.size() + 1, listing.entries().size());
  EXPECT_EQ("enabled", heldFiles(listing.contentsOf("new")));
  EXPECT_EQ("version files", heldFiles(listing.contentsOf("zeta")));
}

TEST_F(DatabaseListingTest, MissingRootAndUnreadableEntries) {
  DatabaseListing listing;
  EXPECT_FALSE(listing.list(root()));
  EXPECT_TRUE(listing.entries().empty());

  if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to mount a damaged directory";
  put("pdb/good/version");
  UnreadableDirectory damaged(dir_.file("pdb/damaged"), {"version"});
  if (!damaged.ready()) GTEST_SKIP() << damaged.why();
  ASSERT_TRUE(listing.list(root()));
  EXPECT_EQ(0, listing.readError());
  EXPECT_EQ("version", heldFiles(listing.contentsOf("good")));
  // Nothing is known of a directory that could not be read to its end.
  EXPECT_EQ("image version deps provides conflicts bundle files disabled enabled",
            heldFiles(listing.contentsOf("damaged")));
  EXPECT_TRUE(DirectoryNames(dir_.file("pdb/damaged")).mayHold("anything"));

  DatabaseListing broken;
  ASSERT_TRUE(broken.list(dir_.file("pdb/damaged/")));
  EXPECT_EQ(EBADMSG, broken.readError());
  EXPECT_TRUE(broken.entries().empty());
}

}  // namespace

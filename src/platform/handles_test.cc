#include "platform/handles.h"

#include <errno.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/root_runner.h"
#include "support/temp_dir.h"
#include "support/unreadable_directory.h"

namespace {

using testing_support::TempDir;
using testing_support::UnreadableDirectory;

std::vector<std::string> readAll(DirectoryReader& reader) {
  std::vector<std::string> names;
  std::string name;
  while (reader.next(&name)) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DirectoryReader, TellsTheEndFromAFailedRead) {
  TempDir dir;
  ASSERT_TRUE(testing_support::writeFile(dir.file("a"), "a"));
  DirectoryReader whole(dir.path());
  ASSERT_TRUE(whole.isOpen());
  EXPECT_EQ((std::vector<std::string>{".", "..", "a"}), readAll(whole));
  EXPECT_EQ(0, whole.error());

  DirectoryReader absent(dir.file("absent"));
  EXPECT_FALSE(absent.isOpen());
  std::string name;
  EXPECT_FALSE(absent.next(&name));
  EXPECT_NE(0, absent.error());

  if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to mount a damaged directory";
  UnreadableDirectory broken(dir.file("broken"));
  if (!broken.ready()) GTEST_SKIP() << broken.why();
  DirectoryReader damaged(dir.file("broken"));
  ASSERT_TRUE(damaged.isOpen());
  readAll(damaged);
  EXPECT_EQ(EBADMSG, damaged.error());
}

}  // namespace

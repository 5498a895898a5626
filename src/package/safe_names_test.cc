#include "package/safe_names.h"

#include <gtest/gtest.h>

#include "driver/change_set.h"
#include "driver/file_system.h"

namespace {

TEST(SafeNamesTest, PackageNamesMustBeOneDirectoryName) {
  for (const char* name : {"", ".", "..", "/", "a/b", "../etc", "x/"}) {
    EXPECT_FALSE(isSafePackageName(name)) << name;
  }
  for (const char* name : {"system", "...", ".hidden", "a..b", "wireless-7", "r\xC3\xA9seau"}) {
    EXPECT_TRUE(isSafePackageName(name)) << name;
  }
}

TEST(SafeNamesTest, EntryPathsStayBelowTheirRootAndNameAFile) {
  for (const char* path : {"..", "/..", "../etc/passwd", "/lib/../../etc/passwd", "a/..",
                           "lib/..//x", "", "/", "lib/", "/lib/.", ".", "bin/a\nb", "a\tb",
                           "a\x7F", "a\x1F"}) {
    EXPECT_FALSE(isSafeEntryPath(path)) << path;
  }
  for (const char* path : {"/bin/tool", "bin/tool", "/lib/..so", "/a/...", "/.profile",
                           "/a/./b", "//a//b", "/home/with blank", "/r\xC3\xA9seau/\xFF"}) {
    EXPECT_TRUE(isSafeEntryPath(path)) << path;
  }
}

TEST(SafeNamesTest, ManifestCarriesNoBlanksOrControlCharacters) {
  EXPECT_TRUE(manifestCanCarry("/flash/bin/tool"));
  EXPECT_TRUE(manifestCanCarry("/flash/r\xC3\xA9seau"));
  EXPECT_FALSE(manifestCanCarry("/flash/a b"));
  EXPECT_FALSE(manifestCanCarry("/flash/a\nb"));
  EXPECT_FALSE(manifestCanCarry("/flash/a\tb"));

  FakeFileSystem fs;
  ChangeSet changes(fs);
  changes.addMove("/ram/tmp1", "/flash/a");
  changes.addSymlink("/flash/bootimage", "/flash/var/pdb/x/image");
  EXPECT_EQ("", findUnmanifestablePath(changes));
  changes.addMove("/ram/tmp 2", "/flash/b");
  changes.addMove("/ram/tmp3", "/flash/c d");
  changes.addMove("/ram/tmp4", "/flash/e f");
  // Map order: the first offending path is reported, target before source.
  EXPECT_EQ("/ram/tmp 2", findUnmanifestablePath(changes));
  changes.addMove("/ram/tmp2", "/flash/b");
  EXPECT_EQ("/flash/c d", findUnmanifestablePath(changes));
}

}  // namespace

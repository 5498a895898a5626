#include "package/safe_names.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeNamesTest, PackageNamesMustBeOneDirectoryName) {
  for (const char* name : {"", ".", "..", "/", "a/b", "../etc", "x/", "q\netc", "a\tb", "a\x7F"}) {
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

}  // namespace

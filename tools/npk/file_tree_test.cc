// Compiles the source it tests (npk_test_support.h).
#include "file_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::makeDirs;
using testing_support::writeFile;

std::string describe(const std::vector<FileTreeEntry>& entries) {
  std::string text;
  char mode[16];
  for (const FileTreeEntry& entry : entries) {
    snprintf(mode, sizeof mode, "%06o", unsigned(entry.mode));
    text += std::string(mode) + " " + entry.path + " [" + entry.data + "]" +
            (entry.skipByte ? " skip" : "") + "\n";
  }
  return text;
}

TEST(NpkFileTree, TakesFilesDirectoriesAndLinksInSortedPreOrder) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("root/bin/tool"), "#!/bin/sh\n"));
  ASSERT_TRUE(writeFile(dir.file("root/b"), "x"));
  ASSERT_TRUE(writeFile(dir.file("root/etc/z"), ""));
  ASSERT_TRUE(makeDirs(dir.file("root/empty")));
  ASSERT_EQ(0, chmod(dir.file("root/bin/tool").c_str(), 04750));
  ASSERT_EQ(0, chmod(dir.file("root/empty").c_str(), 0700));
  ASSERT_EQ(0, chmod(dir.file("root/b").c_str(), 0600));
  ASSERT_EQ(0, chmod(dir.file("root/bin").c_str(), 0755));
  ASSERT_EQ(0, chmod(dir.file("root/etc").c_str(), 0755));
  ASSERT_EQ(0, chmod(dir.file("root/etc/z").c_str(), 0644));
  ASSERT_EQ(0, symlink("../b", dir.file("root/bin/link").c_str()));
  std::vector<FileTreeEntry> entries;
  std::string error;
  ASSERT_TRUE(collectFileTree(dir.file("root/"), &entries, &error)) << error;
  EXPECT_EQ(
      "100600 b [x]\n"
      "040755 bin []\n"
      "120777 bin/link [../b]\n"
      "104750 bin/tool [#!/bin/sh\n]\n"
      "040700 empty []\n"
      "040755 etc []\n"
      "100644 etc/z []\n",
      describe(entries));
  ASSERT_TRUE(markSkipped({"etc/z", "bin"}, &entries, &error)) << error;
  EXPECT_EQ(1, entries[1].skipByte);
  EXPECT_EQ(1, entries[6].skipByte);
  EXPECT_EQ(0, entries[0].skipByte);
  EXPECT_FALSE(markSkipped({"etc/missing"}, &entries, &error));
  EXPECT_EQ("etc/missing: no such entry in the file tree", error);
}

TEST(NpkFileTree, RefusesWhatTheContainerCannotHold) {
  TempDir dir;
  std::vector<FileTreeEntry> entries;
  std::string error;
  EXPECT_FALSE(collectFileTree(dir.file("missing"), &entries, &error));
  EXPECT_EQ(dir.file("missing") + ": cannot stat: No such file or directory", error);
  ASSERT_TRUE(writeFile(dir.file("plain"), "x"));
  EXPECT_FALSE(collectFileTree(dir.file("plain"), &entries, &error));
  EXPECT_EQ(dir.file("plain") + ": not a directory", error);
  ASSERT_TRUE(makeDirs(dir.file("root/sub")));
  ASSERT_EQ(0, mkfifo(dir.file("root/sub/pipe").c_str(), 0600));
  EXPECT_FALSE(collectFileTree(dir.file("root"), &entries, &error));
  EXPECT_EQ(dir.file("root/sub/pipe") + ": not a regular file, directory or symbolic link", error);
}

TEST(NpkFileTree, AnEmptyDirectoryGivesNoEntries) {
  TempDir dir;
  ASSERT_TRUE(makeDirs(dir.file("root")));
  std::vector<FileTreeEntry> entries(1);
  std::string error;
  ASSERT_TRUE(collectFileTree(dir.file("root"), &entries, &error)) << error;
  EXPECT_TRUE(entries.empty());
}

}  // namespace

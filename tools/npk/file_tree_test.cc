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

TEST(NpkFileTree, TakesFilesAndDirectoriesInSortedPreOrder) {
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
  std::vector<FileTreeEntry> entries;
  std::vector<SpecialFile> leftOut;
  std::string error;
  ASSERT_TRUE(collectFileTree(dir.file("root/"), SpecialFiles::kRefuse, &entries, &leftOut, &error))
      << error;
  EXPECT_TRUE(leftOut.empty());
  EXPECT_EQ(
      "100600 b [x]\n"
      "040755 bin []\n"
      "104750 bin/tool [#!/bin/sh\n]\n"
      "040700 empty []\n"
      "040755 etc []\n"
      "100644 etc/z []\n",
      describe(entries));
  ASSERT_TRUE(markSkipped({"etc/z", "bin"}, &entries, &error)) << error;
  EXPECT_EQ(1, entries[1].skipByte);
  EXPECT_EQ(1, entries[5].skipByte);
  EXPECT_EQ(0, entries[0].skipByte);
  EXPECT_FALSE(markSkipped({"etc/missing"}, &entries, &error));
  EXPECT_EQ("etc/missing: no such entry in the file tree", error);
}

TEST(NpkFileTree, RefusesOrLeavesOutWhatTheInstallerWouldNotCreate) {
  TempDir dir;
  std::vector<FileTreeEntry> entries;
  std::vector<SpecialFile> leftOut;
  std::string error;
  EXPECT_FALSE(collectFileTree(dir.file("missing"), SpecialFiles::kRefuse, &entries, &leftOut,
                               &error));
  EXPECT_EQ(dir.file("missing") + ": cannot stat: No such file or directory", error);
  ASSERT_TRUE(writeFile(dir.file("plain"), "x"));
  EXPECT_FALSE(collectFileTree(dir.file("plain"), SpecialFiles::kRefuse, &entries, &leftOut,
                               &error));
  EXPECT_EQ(dir.file("plain") + ": not a directory", error);
  ASSERT_TRUE(writeFile(dir.file("root/sub/file"), "data"));
  ASSERT_EQ(0, mkfifo(dir.file("root/sub/pipe").c_str(), 0600));
  ASSERT_EQ(0, symlink("file", dir.file("root/sub/link").c_str()));
  EXPECT_FALSE(collectFileTree(dir.file("root"), SpecialFiles::kRefuse, &entries, &leftOut,
                               &error));
  EXPECT_EQ(dir.file("root") +
                ": the installer installs regular files only and would not create these (leave "
                "them out with --skip-special):\n  sub/link: symbolic link\n  sub/pipe: FIFO",
            error);
  ASSERT_TRUE(collectFileTree(dir.file("root"), SpecialFiles::kLeaveOut, &entries, &leftOut,
                              &error));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("sub/file", entries[1].path);
  ASSERT_EQ(2u, leftOut.size());
  EXPECT_EQ("sub/link", leftOut[0].path);
  EXPECT_EQ("FIFO", leftOut[1].kind);
  EXPECT_EQ("device", specialKind(0x2000));
  EXPECT_EQ("", specialKind(0x8000));
}

TEST(NpkFileTree, AnEmptyDirectoryGivesNoEntries) {
  TempDir dir;
  ASSERT_TRUE(makeDirs(dir.file("root")));
  std::vector<FileTreeEntry> entries(1);
  std::vector<SpecialFile> leftOut(1);
  std::string error;
  ASSERT_TRUE(collectFileTree(dir.file("root"), SpecialFiles::kRefuse, &entries, &leftOut, &error))
      << error;
  EXPECT_TRUE(leftOut.empty());
  EXPECT_TRUE(entries.empty());
}

}  // namespace

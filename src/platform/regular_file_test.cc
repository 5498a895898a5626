#include "platform/regular_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "support/temp_dir.h"

namespace {

TEST(RegularFile, OnlyRegularFilesAreReadAndOnlyUpToTheBound) {
  testing_support::TempDir dir;
  const std::string text = dir.path() + "/text";
  std::ofstream(text) << "0123456789";
  std::string content;
  EXPECT_EQ(FileRead::kRead, readRegularFile(text, 10, &content));
  EXPECT_EQ("0123456789", content);
  EXPECT_EQ(FileRead::kTooLong, readRegularFile(text, 9, &content));
  EXPECT_EQ("012345678", content);
  EXPECT_EQ(FileRead::kMissing, readRegularFile(dir.path() + "/none", 9, &content));
  EXPECT_EQ("", content);

  // A FIFO without a writer would block a plain open; a device would be
  // read without end; a directory is no file.
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(FileRead::kMissing, readRegularFile(fifo, 9, &content));
  EXPECT_FALSE(writableAsRegularFile(fifo));
  const std::string zero = dir.path() + "/zero";
  ASSERT_EQ(0, symlink("/dev/zero", zero.c_str()));
  EXPECT_EQ(FileRead::kMissing, readRegularFile(zero, 9, &content));
  EXPECT_EQ(-1, openRegularFile(zero));
  EXPECT_EQ(FileRead::kMissing, readRegularFile(dir.path(), 9, &content));

  EXPECT_TRUE(writableAsRegularFile(text));
  EXPECT_TRUE(writableAsRegularFile(dir.path() + "/none"));
  int fd = openRegularFile(text);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(O_NONBLOCK, fcntl(fd, F_GETFL) & O_NONBLOCK);
  close(fd);
}

// The reader sizes its first read by the size the file had when opened; a
// file whose size says less than it holds is still read to its end, and
// the bound holds at every size.
TEST(RegularFile, WholeContentWhateverTheSizeSays) {
  testing_support::TempDir dir;
  const std::string big = dir.path() + "/big";
  std::string pattern;
  for (int i = 0; i < 40000; ++i) pattern += static_cast<char>('a' + i % 26);
  std::ofstream(big) << pattern;
  std::string content;
  EXPECT_EQ(FileRead::kRead, readRegularFile(big, 1u << 20, &content));
  EXPECT_EQ(pattern, content);
  EXPECT_EQ(FileRead::kRead, readRegularFile(big, 40000, &content));
  EXPECT_EQ(pattern, content);
  EXPECT_EQ(FileRead::kTooLong, readRegularFile(big, 39999, &content));
  EXPECT_EQ(pattern.substr(0, 39999), content);
  EXPECT_EQ(FileRead::kTooLong, readRegularFile(big, 0, &content));
  EXPECT_EQ("", content);

  const std::string empty = dir.path() + "/empty";
  std::ofstream(empty).flush();
  EXPECT_EQ(FileRead::kRead, readRegularFile(empty, 0, &content));
  EXPECT_EQ("", content);

  // A regular file whose size is 0 but that holds text, as the kernel's
  // own files are.
  EXPECT_EQ(FileRead::kRead, readRegularFile("/proc/self/status", 1u << 20, &content));
  EXPECT_EQ(0u, content.find("Name:"));
  EXPECT_NE(std::string::npos, content.find("\nPid:"));
  EXPECT_EQ(FileRead::kTooLong, readRegularFile("/proc/self/status", 5, &content));
  EXPECT_EQ("Name:", content);
}

}  // namespace

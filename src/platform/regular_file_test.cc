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

}  // namespace

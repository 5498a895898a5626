#include "package/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <istream>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;

// Past 4 GiB, so that neither a signed nor an unsigned 32-bit offset
// reaches it.
const int64_t kFarOffset = (int64_t(1) << 32) + 4097;

TEST(FileSource, ReadsAndStatsBeyondFourGibibytes) {
  // A sparse file takes no room; on a 32-bit CPU built without 64-bit
  // file offsets stat fails with EOVERFLOW and the seek lands elsewhere.
  TempDir dir;
  const std::string path = dir.file("large.npk");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(5, pwrite(fd, "start", 5, 0));
  ASSERT_EQ(4, pwrite(fd, "far!", 4, kFarOffset));
  ASSERT_EQ(0, close(fd));

  struct stat status;
  ASSERT_EQ(0, stat(path.c_str(), &status));
  EXPECT_EQ(kFarOffset + 4, int64_t(status.st_size));

  FileSource source;
  ASSERT_TRUE(source.open(path));
  std::istream in(&source);
  char text[5] = {};
  ASSERT_TRUE(in.read(text, 4));
  EXPECT_EQ("star", std::string(text));
  ASSERT_TRUE(in.seekg(std::streamoff(kFarOffset)));
  ASSERT_TRUE(in.read(text, 4));
  EXPECT_EQ("far!", std::string(text));
  EXPECT_EQ(std::streamoff(kFarOffset + 4), std::streamoff(in.tellg()));
  in.seekg(-4, std::ios_base::end);
  ASSERT_TRUE(in.read(text, 4));
  EXPECT_EQ("far!", std::string(text));
}

}  // namespace

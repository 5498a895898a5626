#include "driver/stream_copy.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

class StreamCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/stream-copy-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    path_ = dir_ + "/image";
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  bool exists() const {
    struct stat st;
    return lstat(path_.c_str(), &st) == 0;
  }
  off_t fileSize() const {
    struct stat st;
    return lstat(path_.c_str(), &st) == 0 ? st.st_size : -1;
  }
  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }

  std::string dir_;
  std::string path_;
};

// Bytes that differ from position to position, so that a lost or repeated
// block shows.
std::string pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4099) & 0xff);
  return bytes;
}

// Puts `bytes` in pieces of the given size (0: one byte at a time).
void put(StreamCopy& copy, const std::string& bytes, size_t piece) {
  for (size_t at = 0; at < bytes.size();) {
    if (piece == 0) {
      copy.sputc(bytes[at++]);
      continue;
    }
    size_t n = std::min(piece, bytes.size() - at);
    copy.sputn(bytes.data() + at, static_cast<std::streamsize>(n));
    at += n;
  }
}

TEST_F(StreamCopyTest, AKeptCopyHoldsEveryByteWhereverTheDecisionFalls) {
  const std::string before = pattern(3 * StreamCopy::kUndecidedLimit + 17);
  const std::string after = pattern(5 * StreamCopy::kWriteBlock + 3);
  for (size_t beforeLength : {size_t(0), size_t(100), before.size()}) {
    for (size_t piece : {size_t(0), size_t(4096), size_t(3 * StreamCopy::kWriteBlock)}) {
      {
        StreamCopy copy(path_, 0);
        ASSERT_TRUE(copy.create());
        put(copy, before.substr(0, beforeLength), piece == 0 ? 1000 : piece);
        copy.keep();
        put(copy, after.substr(0, piece == 0 ? 5000 : after.size()), piece);
        EXPECT_TRUE(copy.finish());
        EXPECT_TRUE(copy.kept());
        std::string expected = before.substr(0, beforeLength) +
                               after.substr(0, piece == 0 ? 5000 : after.size());
        EXPECT_TRUE(contents() == expected) << beforeLength << " then pieces of " << piece;
      }
      EXPECT_FALSE(exists()) << "the copy goes with the object unless moved away";
    }
  }
}

TEST_F(StreamCopyTest, ADroppedCopyWritesNothingBeyondWhatSpilled) {
  {
    StreamCopy copy(path_, 0);
    ASSERT_TRUE(copy.create());
    put(copy, pattern(1000), 100);
    copy.drop();
    put(copy, pattern(4 * StreamCopy::kUndecidedLimit), 65536);
    copy.keep();  // too late: a dropped copy stays dropped
    put(copy, pattern(1000), 100);
    EXPECT_TRUE(copy.finish());
    EXPECT_FALSE(copy.kept());
    EXPECT_EQ(0, fileSize());
  }
  {
    // Past the bound, what was held spills; nothing more once dropped.
    StreamCopy copy(path_, 0);
    ASSERT_TRUE(copy.create());
    put(copy, pattern(StreamCopy::kUndecidedLimit + 10), 4096);
    off_t spilled = fileSize();
    EXPECT_GT(spilled, 0);
    EXPECT_LE(spilled, static_cast<off_t>(StreamCopy::kUndecidedLimit + 10));
    copy.drop();
    put(copy, pattern(3 * StreamCopy::kUndecidedLimit), 4096);
    copy.finish();
    EXPECT_EQ(spilled, fileSize());
  }
  EXPECT_FALSE(exists());
}

TEST_F(StreamCopyTest, AKeptCopyWithoutRoomForTheReserveFails) {
  StreamCopy copy(path_, ~uint64_t(0) >> 2);
  ASSERT_TRUE(copy.create());
  copy.keep();
  put(copy, pattern(3 * StreamCopy::kUndecidedLimit), 4096);
  EXPECT_FALSE(copy.finish());
  EXPECT_LE(fileSize(), static_cast<off_t>(StreamCopy::kUndecidedLimit + StreamCopy::kWriteBlock));

  StreamCopy unopened(dir_ + "/missing/image", 0);
  EXPECT_FALSE(unopened.create());
  unopened.keep();
  put(unopened, "bytes", 1);
  EXPECT_FALSE(unopened.finish());
}

// The watch decides from the wanted parts exactly as the header reader
// finds an image: after the header and its parts, in their order.
TEST(KeptImageWatchTest, KeepsOnlyAnImageRightAfterTheHeaderParts) {
  struct Case {
    std::vector<int> types;
    bool kept;
  } cases[] = {
      {{kPartPackageHeader, kPartSquashfsImage}, true},
      {{kPartBundleHeader, kPartArchitecture, kPartSquashfsImage}, true},
      {{kPartPackageHeader, kPartArchitecture, kPartDependencies, kPartProvides, kPartConflicts,
        kPartSquashfsImage},
       true},
      {{kPartPackageHeader, kPartFileContainer, kPartSquashfsImage}, false},
      {{kPartPackageHeader, kPartSignature}, false},
      {{kPartBundleHeader, kPartBundleMembers, kPartPackageHeader, kPartSquashfsImage}, false},
      // A part out of the header's order ends the header.
      {{kPartPackageHeader, kPartDependencies, kPartArchitecture, kPartSquashfsImage}, false},
      {{kPartPackageHeader, kPartDependencies, kPartDependencies, kPartSquashfsImage}, false},
      {{kPartSquashfsImage}, false},
      {{kPartArchitecture, kPartPackageHeader, kPartSquashfsImage}, false},
  };
  char dir[] = "/tmp/stream-watch-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  std::string path = std::string(dir) + "/image";
  for (const Case& c : cases) {
    StreamCopy copy(path, 0);
    ASSERT_TRUE(copy.create());
    KeptImageWatch watch(copy);
    std::string sequence;
    for (int type : c.types) {
      watch.wantedPartBegun(type);
      sequence += std::to_string(type) + " ";
    }
    EXPECT_EQ(c.kept, copy.kept()) << sequence;
  }
  rmdir(dir);
}

}  // namespace

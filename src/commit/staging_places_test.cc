#include "commit/staging_places.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>

#include "commit/change_set.h"
#include "commit/commit_paths.h"
#include "support/fake_file_system.h"
#include "support/temp_dir.h"

namespace {

using testing_support::makeDirs;
using testing_support::readFile;
using testing_support::TempDir;

// Counts the queries the staging and the commit make.
class CountingFileSystem : public FakeFileSystem {
 public:
  explicit CountingFileSystem(FileSystem* base = nullptr) : FakeFileSystem(base) {}
  int fileSystemStats(const std::string& path, FileSystemStats* stats) override {
    ++statfsCalls;
    return FakeFileSystem::fileSystemStats(path, stats);
  }
  int status(const std::string& path, FileStatus* status) override {
    ++statCalls;
    return FakeFileSystem::status(path, status);
  }
  size_t logged(const std::string& operation) const {
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
      return line.compare(0, operation.size() + 1, operation + " ") == 0;
    }));
  }

  int statfsCalls = 0;
  int statCalls = 0;
};

TEST(StagingPlacesTest, AsksOncePerDirectoryAndStagesBesideTheDatabase) {
  CountingFileSystem fs;
  fs.scriptStats("/flash", 4096, 1 << 20);
  fs.scriptStatus("/flash", 0, 7, true);
  fs.scriptStatus(paths::kDatabaseRoot, 0, 7, true);
  StagingPlaces places(fs);
  for (int i = 0; i < 300; ++i) {
    std::string target = "/flash/new/d" + std::to_string(i % 3) + "/f" + std::to_string(i);
    StagingPlaces::Place place = places.place(target, 1000);
    ASSERT_EQ(paths::kStagingDir, place.directory);
    EXPECT_TRUE(place.deviceKnown);
    EXPECT_EQ(7u, place.device);
  }
  // d0, "/flash/new" and "/flash"; then only d1 and d2: the missing
  // "/flash/new" is remembered with its answer.
  EXPECT_EQ(5, fs.statfsCalls);
  EXPECT_EQ(2, fs.statCalls);
  EXPECT_EQ(1u, fs.logged("mkdir"));
  // After forget() everything is asked again: a cancel removes the
  // staging directory.
  places.forget();
  EXPECT_EQ(paths::kStagingDir, places.place("/flash/new/d0/g", 1000).directory);
  EXPECT_EQ(8, fs.statfsCalls);
  EXPECT_EQ(2u, fs.logged("mkdir"));
}

TEST(StagingPlacesTest, RunningCountAsksAgainBeforeSendingAFileToRam) {
  CountingFileSystem fs;
  // Room for one file by the count, which charges each file its size and
  // 128 KiB more.
  fs.scriptStats("/flash/dir", 1, 65536 + 1000 + 131072 + 500);
  StagingPlaces places(fs);
  EXPECT_EQ("/flash/dir", places.choose("/flash/dir/a", 1000));
  EXPECT_EQ(1, fs.statfsCalls);
  // The count says no; the file system, asked again, still has room.
  EXPECT_EQ("/flash/dir", places.choose("/flash/dir/b", 1000));
  EXPECT_EQ(2, fs.statfsCalls);
  // Exactly the size and 65536 bytes left: "/ram", as the system says.
  fs.scriptStats("/flash/dir", 1, 1000 + 65536);
  EXPECT_EQ("/ram", places.choose("/flash/dir/c", 1000));
  EXPECT_EQ("/flash/dir", places.choose("/flash/dir/d", 999));
  EXPECT_EQ(4, fs.statfsCalls);
  // The decisions a fresh look at the system makes.
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/flash/dir/c", 1000));
  EXPECT_EQ("/flash/dir", chooseStagingDirectory(fs, "/flash/dir/d", 999));
}

TEST(StagingPlacesTest, WouldExhaustTrustsOnlyTheSystemToRefuse) {
  CountingFileSystem fs;
  fs.scriptStats("/flash/dir", 1, 1000000);
  StagingPlaces places(fs);
  // Plenty by the count: one statfs for the directory, none per file.
  for (int i = 0; i < 50; ++i) EXPECT_FALSE(places.wouldExhaust("/flash/dir/f", 1000, 32768));
  EXPECT_EQ(1, fs.statfsCalls);

  // Too little beside the target for the file and the choice's margin:
  // the file would go to "/ram", and is judged by the room there.
  CountingFileSystem tight;
  tight.scriptStats("/flash/dir", 1, 60000);
  tight.scriptStats("/ram", 1, 100000);
  tight.scriptStatus("/ram", 0, 3, true);
  StagingPlaces ram(tight);
  EXPECT_FALSE(ram.wouldExhaust("/flash/dir/f", 10000, 32768));
  EXPECT_EQ("/ram", ram.choose("/flash/dir/g", 30000));
  // The count has nothing left in "/ram"; asked again, it has room.
  int asked = tight.statfsCalls;
  EXPECT_FALSE(ram.wouldExhaust("/flash/dir/f", 10000, 32768));
  EXPECT_GT(tight.statfsCalls, asked);
  // The system, asked when the count runs out, says the file would leave
  // less than the reserve.
  tight.scriptStats("/ram", 1, 40000);
  EXPECT_EQ("/ram", ram.choose("/flash/dir/h", 30000));
  EXPECT_TRUE(ram.wouldExhaust("/flash/dir/f", 10000, 32768));
  // An empty file is staged in "/ram" and judged by its room alone.
  EXPECT_FALSE(ram.wouldExhaust("/flash/dir/empty", 0, 32768));
  tight.scriptStats("/ram", 1, 30000);
  EXPECT_EQ("/ram", ram.choose("/flash/dir/j", 30000));
  EXPECT_TRUE(ram.wouldExhaust("/flash/dir/empty", 0, 32768));

  // Without any statistics nothing is refused.
  CountingFileSystem blind;
  StagingPlaces unknown(blind);
  EXPECT_FALSE(unknown.wouldExhaust("/flash/dir/f", 1 << 30, 32768));
}

TEST(StagingPlacesTest, StagedFilesGetTheirExactModeAndDistinctNames) {
  TempDir dir;
  mode_t old = umask(022);
  std::set<std::string> names;
  const unsigned modes[] = {0777, 04755, 0640, 0};
  for (int i = 0; i < 200; ++i) {
    std::string path;
    int fd = -1;
    unsigned mode = modes[i % 4];
    ASSERT_EQ(0, FileSystem::real().openTemporaryFile(dir.path(), mode, &path, &fd));
    struct stat st;
    ASSERT_EQ(0, fstat(fd, &st));
    close(fd);
    EXPECT_EQ(mode != 0 ? mode : 0600u, st.st_mode & 07777) << path;
    std::string name = path.substr(dir.path().size() + 1);
    EXPECT_EQ(9u, name.size());
    EXPECT_EQ(0u, name.find("tmp"));
    names.insert(name);
  }
  umask(old);
  EXPECT_EQ(200u, names.size());
}

TEST(StagingPlacesTest, StagedFilesKeepTheirDescriptorAndCommitWithoutAStatEach) {
  TempDir dir;
  makeDirs(dir.file("lib"));
  CountingFileSystem fs(&FileSystem::real());
  ChangeSet changes(fs);
  const int files = 40;
  for (int i = 0; i < files; ++i) {
    StagedFile file;
    changes.openStagedFile(file, dir.file("lib/f" + std::to_string(i)), 5, 0751);
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(file.write("data", 4));
    ASSERT_TRUE(file.close());
  }
  const ChangeAction* first = changes.find(dir.file("lib/f0"));
  ASSERT_NE(nullptr, first);
  EXPECT_TRUE(first->sourceDeviceKnown);
  struct stat st;
  ASSERT_EQ(0, stat(first->source.c_str(), &st));
  EXPECT_EQ(0751u, st.st_mode & 07777);
  EXPECT_EQ(static_cast<uint64_t>(st.st_dev), first->sourceDevice);

  int statsBefore = fs.statCalls;
  changes.commit(false);
  EXPECT_EQ("data", readFile(dir.file("lib/f7")));
  EXPECT_EQ(0751u, (stat(dir.file("lib/f7").c_str(), &st), st.st_mode & 07777));
  // A handful of directories, not one query per file.
  EXPECT_LT(fs.statCalls - statsBefore, 5);
  EXPECT_EQ(1u, fs.logged("mkdir"));  // once, in the copy step
  EXPECT_EQ(static_cast<size_t>(files), fs.logged("rename"));

  // A file that cannot be created: not open, errno set, the entry recorded.
  fs.scriptError("mkstemp", dir.file("lib"), EACCES);
  StagedFile failed;
  changes.openStagedFile(failed, dir.file("lib/g"), 5, 0644);
  EXPECT_FALSE(failed.isOpen());
  EXPECT_EQ(EACCES, errno);
  EXPECT_FALSE(failed.write("x", 1));
  EXPECT_NE(nullptr, changes.find(dir.file("lib/g")));
  changes.cancel();
}

}  // namespace

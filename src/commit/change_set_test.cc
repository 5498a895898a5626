#include "commit/change_set.h"

#include <errno.h>
#include <string.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "console/console.h"
#include "support/fake_file_system.h"
#include "support/scoped_tmpfs.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"
#include "support/unreadable_directory.h"

namespace {

using testing_support::makeDirs;
using testing_support::pathExists;
using testing_support::readFile;
using testing_support::ScopedTmpfs;
using testing_support::TempDir;
using testing_support::UnreadableDirectory;
using testing_support::writeFile;

std::string stage(ChangeSet& changes, const std::string& target, const std::string& content,
                  unsigned mode = 0) {
  std::ofstream out;
  changes.openStagedFile(out, target, content.size(), mode);
  out << content;
  out.close();
  const ChangeAction* action = changes.find(target);
  return action ? action->source : std::string();
}

std::string permissions(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "missing";
  char text[8];
  snprintf(text, sizeof text, "%o", st.st_mode & 07777);
  return text;
}

std::string listing(const ChangeSet& changes) {
  std::string all;
  for (const auto& entry : changes) {
    all += std::to_string(static_cast<int>(entry.second.kind)) + " " + entry.first + " " +
           entry.second.source + "\n";
  }
  return all;
}

TEST(ChangeSetPaths, ParentDirectory) {
  EXPECT_EQ("/a", parentDirectory("/a/b"));
  EXPECT_EQ("/a", parentDirectory("/a/b///"));
  EXPECT_EQ("/a", parentDirectory("/a//b"));
  EXPECT_EQ("/", parentDirectory("/a"));
  EXPECT_EQ("/", parentDirectory("/"));
  EXPECT_EQ(".", parentDirectory("a"));
  EXPECT_EQ(".", parentDirectory(""));
  EXPECT_EQ("a", parentDirectory("a/b"));
}

TEST(ChangeSetPaths, MakeDirectoriesCreatesMissingAncestors) {
  TempDir dir;
  makeDirectories(FileSystem::real(), dir.file("x/y/z"));
  EXPECT_TRUE(pathExists(dir.file("x/y/z")));
  makeDirectories(FileSystem::real(), dir.file("x/y/z"));  // exists: no harm
  ASSERT_TRUE(writeFile(dir.file("file"), "f"));
  makeDirectories(FileSystem::real(), dir.file("file/sub"));  // cannot: not reported
  EXPECT_EQ("f", readFile(dir.file("file")));
}

TEST(ChangeSetStaging, PlacementAroundTheReserveBoundary) {
  FakeFileSystem fs;
  fs.scriptStatus("/ram", 0, 1, true);
  fs.scriptStats("/flash/dir", 1, 1000 + 65536);
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/flash/dir/file", 1000));
  EXPECT_EQ("/flash/dir", chooseStagingDirectory(fs, "/flash/dir/file", 999));
  fs.scriptStats("/flash/dir", 1, 1000 + 65537);
  EXPECT_EQ("/flash/dir", chooseStagingDirectory(fs, "/flash/dir/file", 1000));
  // Blocks count in whole: 17 free blocks of 4096 bytes are 69632 bytes.
  fs.scriptStats("/flash/dir", 4096, 17);
  EXPECT_EQ("/flash/dir", chooseStagingDirectory(fs, "/flash/dir/file", 4095));
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/flash/dir/file", 4096));
  // A size hint of 0 always stages in "/ram", however much room the
  // target's file system has.
  fs.scriptStats("/flash/dir", 1, 65536);
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/flash/dir/file", 0));
  fs.scriptStats("/flash/dir", 4096, 1000000);
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/flash/dir/file", 0));
  // A huge hint cannot wrap around to a small one.
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/flash/dir/file", UINT64_MAX - 10));
}

TEST(ChangeSetStaging, PlacementWalksUpAndFallsBackToRamOrTmp) {
  FakeFileSystem fs;
  fs.scriptStats("/flash", 4096, 100);
  // "/flash/new/sub" does not exist yet: its nearest existing ancestor decides.
  EXPECT_EQ("/flash", chooseStagingDirectory(fs, "/flash/new/sub/file", 10));
  // No file system found at all: "/ram", even when it is missing (the
  // staged file then cannot be created and the caller reports it).
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/other/file", 10));
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "relative", 10));
  // "/tmp" stands in for a missing "/ram" only for a size hint of 0.
  EXPECT_EQ("/tmp", chooseStagingDirectory(fs, "/flash/file", 0));
  fs.scriptStatus("/ram", 0, 1, false);  // a file named /ram is no directory
  EXPECT_EQ("/tmp", chooseStagingDirectory(fs, "/flash/file", 0));
  fs.scriptStatus("/ram", 0, 1, true);
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/flash/file", 0));
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, "/other/file", 10));
}

TEST(ChangeSetStaging, StagingTheSameTargetTwiceKeepsOnlyTheLast) {
  TempDir dir;
  ChangeSet changes;
  std::string target = dir.file("bin/tool");
  makeDirs(dir.file("bin"));
  std::string first = stage(changes, target, "old");
  std::string second = stage(changes, target, "new", 0750);
  EXPECT_EQ(dir.file("bin"), parentDirectory(first));
  EXPECT_EQ("tmp", first.substr(first.size() - 9, 3));
  EXPECT_NE(first, second);
  EXPECT_FALSE(pathExists(first));
  EXPECT_EQ("new", readFile(second));
  EXPECT_EQ("750", permissions(second));
  EXPECT_EQ(1u, changes.size());
  EXPECT_EQ(ChangeKind::MoveStaged, changes.find(target)->kind);
  // Recording the same staged file again keeps it.
  changes.put(target, ChangeAction{ChangeKind::MoveStaged, second});
  EXPECT_TRUE(pathExists(second));
  changes.cancel();
  EXPECT_FALSE(pathExists(second));
  EXPECT_TRUE(changes.empty());
}

TEST(ChangeSetStaging, UncreatableStagedFileIsRecordedWithAFailedStream) {
  FakeFileSystem fs;
  fs.scriptStatus("/ram", 0, 1, true);
  fs.scriptError("mkstemp", "/ram", ENOSPC);
  ChangeSet changes(fs);
  std::ofstream out;
  errno = 0;
  changes.openStagedFile(out, "/flash/file", 10, 0644);
  EXPECT_EQ(ENOSPC, errno);
  EXPECT_FALSE(out.good());
  EXPECT_FALSE(out.is_open());
  ASSERT_NE(nullptr, changes.find("/flash/file"));
  EXPECT_EQ(ChangeKind::MoveStaged, changes.find("/flash/file")->kind);
}

TEST(ChangeSetRecording, RemovalOverAPendingStagedFile) {
  TempDir dir;
  ChangeSet changes;
  std::string missing = dir.file("missing");
  std::string existing = dir.file("existing");
  ASSERT_TRUE(writeFile(existing, "installed"));
  std::string stagedForMissing = stage(changes, missing, "a");
  std::string stagedForExisting = stage(changes, existing, "b");
  changes.addRemoval(missing);
  EXPECT_EQ(nullptr, changes.find(missing));
  EXPECT_FALSE(pathExists(stagedForMissing));
  changes.addRemoval(existing);
  ASSERT_NE(nullptr, changes.find(existing));
  EXPECT_EQ(ChangeKind::Remove, changes.find(existing)->kind);
  EXPECT_EQ("", changes.find(existing)->source);
  EXPECT_FALSE(pathExists(stagedForExisting));
  EXPECT_EQ("installed", readFile(existing));  // recording touches no target
  // A dangling link exists and can be removed.
  ASSERT_EQ(0, symlink("/nowhere", dir.file("dangling").c_str()));
  changes.addRemoval(dir.file("dangling"));
  EXPECT_NE(nullptr, changes.find(dir.file("dangling")));
}

TEST(ChangeSetRecording, EraseDropsOneEntryAndItsStagedFile) {
  TempDir dir;
  ChangeSet changes;
  std::string staged = stage(changes, dir.file("a"), "a");
  changes.addMove(dir.file("package.npk"), dir.file("b"));
  ASSERT_TRUE(writeFile(dir.file("package.npk"), "npk"));
  changes.erase(dir.file("a"));
  changes.erase(dir.file("b"));
  changes.erase(dir.file("never"));
  EXPECT_TRUE(changes.empty());
  EXPECT_FALSE(pathExists(staged));
  EXPECT_TRUE(pathExists(dir.file("package.npk")));  // a Move source is not owned
}

const uint64_t kBlock = 4096;

// A flash of 4096-byte blocks (device 9) whose database directory exists,
// and a "/ram" (device 7) holding staged files of the given block counts.
void scriptFlash(FakeFileSystem& fs, uint64_t freeBlocks) {
  fs.scriptStats("/flash", kBlock, freeBlocks);
  fs.scriptStatus("/flash/var/pdb", 0, 9, true);
  fs.scriptStatus("/flash", 0, 9, true);
  fs.scriptStatus("/flash/var/pdb/.journal.new", 10, 9);
  fs.scriptError("mkdir", "/flash", EEXIST);
  fs.scriptError("mkdir", "/flash/var/pdb", EEXIST);
}

TEST(ChangeSetCommit, OrderFlushAndFailures) {
  FakeFileSystem fs;
  // Room for a's copy beside the old files (the journal and its marker
  // take four blocks), not for b's: b waits for the room that the removal
  // of d frees, and replaces its old file by reuse.
  scriptFlash(fs, 7);
  fs.scriptStatus("/ram/tmp1", 2 * kBlock, 7);
  fs.scriptStatus("/ram/tmp2", 3 * kBlock, 7);
  fs.scriptStatus("/flash/b", 3 * kBlock, 9);
  fs.scriptStatus("/flash/d", 20 * kBlock, 9);
  fs.scriptStatus("/flash/x.npk", 10, 9);
  fs.scriptStatus("/flash/x.v", 10, 9);
  fs.scriptStatus("/flash/.a.commit-copy", 10, 9);
  fs.scriptError("rename", "/flash/c", EACCES);
  fs.scriptError("symlink", "/flash/.link.commit-copy", EPERM);
  ChangeSet changes(fs);
  changes.put("/flash/a", ChangeAction{ChangeKind::MoveStaged, "/ram/tmp1"});
  changes.put("/flash/b", ChangeAction{ChangeKind::MoveStaged, "/ram/tmp2"});
  changes.put("/flash/c", ChangeAction{ChangeKind::Move, "/flash/x.npk"});
  changes.put("/flash/d", ChangeAction{ChangeKind::Remove, ""});
  changes.put("/flash/link", ChangeAction{ChangeKind::Symlink, "/flash/a"});
  changes.put("/flash/var/pdb/p/version", ChangeAction{ChangeKind::MoveStaged, "/flash/x.v"});
  testing::internal::CaptureStderr();
  CommitOutcome outcome = changes.commit(true);
  EXPECT_EQ("symlink: Operation not permitted\nrename: Permission denied\n",
            testing::internal::GetCapturedStderr());
  EXPECT_FALSE(outcome.applied);
  EXPECT_FALSE(outcome.refused);
  EXPECT_EQ(EPERM, outcome.error);
  EXPECT_EQ("/flash/link", outcome.failedTarget);
  std::vector<std::string> expected = {
      // The journal, flushed with the move sources' file systems before it
      // is renamed into place; nothing changed yet.
      "write /flash/var/pdb/.journal.new",
      "syncfs /flash/var/pdb/.journal.new",
      "syncfs /ram/tmp1",
      "rename /flash/var/pdb/.journal from /flash/var/pdb/.journal.new",
      "fsync /flash/var/pdb",
      // The copy that fits beside its target, flushed; the marker names
      // the move that waits for reuse, replaced whole.
      "mkdir /flash",
      "copy /flash/.a.commit-copy from /ram/tmp1 spinning",
      "syncfs /flash/.a.commit-copy",
      "write /flash/var/pdb/..journal-applying.commit-copy",
      "fsync /flash/var/pdb/..journal-applying.commit-copy",
      "rename /flash/var/pdb/.journal-applying from /flash/var/pdb/..journal-applying.commit-copy",
      "fsync /flash/var/pdb",
      // Removals and links; a link is made beside its target and renamed.
      "unlink /flash/d",
      "mkdir /flash",
      "unlink /flash/.link.commit-copy",
      "symlink /flash/.link.commit-copy to /flash/a",
      "unlink /flash/.link.commit-copy",
      // The renames, then the reuse: old file first, the copy flushed.
      "rename /flash/a from /flash/.a.commit-copy",
      "rename /flash/c from /flash/x.npk",
      "unlink /flash/b",
      "copy /flash/.b.commit-copy from /ram/tmp2 spinning",
      "fsync /flash/.b.commit-copy",
      "rename /flash/b from /flash/.b.commit-copy",
      // A file that is not in place keeps the database entry the old one.
      // Everything flushed, then the journal goes.
      "syncfs /flash/var/pdb",
      "unlink /flash/var/pdb/.journal",
      "unlink /flash/var/pdb/.journal-applying",
      "fsync /flash/var/pdb",
  };
  EXPECT_EQ(expected, fs.log);
  EXPECT_EQ(6u, changes.size());  // the entries stay
}

TEST(ChangeSetCommit, ACommitThatDoesNotFitChangesNothing) {
  FakeFileSystem fs;
  scriptFlash(fs, 40);
  fs.scriptStatus("/ram/tmp1", 30 * kBlock, 7);
  fs.scriptStatus("/ram/tmp2", 30 * kBlock, 7);
  fs.scriptStatus("/flash/a", 5 * kBlock, 9);
  {
    // Even with a's old blocks freed, 60 blocks cannot go where 40 less
    // the journal's four and the reserve's eight are free.
    ChangeSet changes(fs);
    changes.put("/flash/a", ChangeAction{ChangeKind::MoveStaged, "/ram/tmp1"});
    changes.put("/flash/b", ChangeAction{ChangeKind::MoveStaged, "/ram/tmp2"});
    CommitOutcome outcome = changes.commit(false);
    EXPECT_TRUE(outcome.refused);
    EXPECT_EQ(ENOSPC, outcome.error);
    ASSERT_EQ(1u, outcome.shortfalls.size());
    EXPECT_EQ("/flash", outcome.shortfalls[0].directory);
    // The run's staged files go; nothing else is touched.
    EXPECT_EQ((std::vector<std::string>{"unlink /ram/tmp1", "unlink /ram/tmp2"}), fs.log);
    EXPECT_TRUE(changes.empty());
  }
  fs.log.clear();
  {
    // Planned to fit, but the copy finds no room: the commit is not
    // started, its copies and journal are deleted.
    fs.scriptStats("/flash", kBlock, 1000);
    fs.scriptError("copy", "/flash/.b.commit-copy", ENOSPC);
    ChangeSet changes(fs);
    changes.put("/flash/a", ChangeAction{ChangeKind::MoveStaged, "/ram/tmp1"});
    changes.put("/flash/b", ChangeAction{ChangeKind::MoveStaged, "/ram/tmp2"});
    testing::internal::CaptureStderr();
    CommitOutcome outcome = changes.commit(false);
    EXPECT_EQ("copy: No space left on device\n", testing::internal::GetCapturedStderr());
    EXPECT_TRUE(outcome.refused);
    std::vector<std::string> expected = {
        "write /flash/var/pdb/.journal.new",
        "syncfs /flash/var/pdb/.journal.new",
        "syncfs /ram/tmp1",
        "rename /flash/var/pdb/.journal from /flash/var/pdb/.journal.new",
        "fsync /flash/var/pdb",
        "mkdir /flash",
        "copy /flash/.a.commit-copy from /ram/tmp1",
        "copy /flash/.b.commit-copy from /ram/tmp2",
        "unlink /flash/.b.commit-copy",
        "unlink /flash/.a.commit-copy",
        "unlink /flash/var/pdb/.journal",
        "unlink /flash/var/pdb/.journal-applying",
        "fsync /flash/var/pdb",
        "unlink /ram/tmp1",
        "unlink /ram/tmp2",
    };
    EXPECT_EQ(expected, fs.log);
  }
}

TEST(ChangeSetCommit, RemovedDirectoryIsRecreatedForAMoveIntoIt) {
  TempDir dir;
  FakeFileSystem fs(&FileSystem::real());
  std::string target = dir.file("lib");
  ASSERT_TRUE(writeFile(dir.file("lib/a.so"), "a"));
  ASSERT_TRUE(writeFile(dir.file("lib/b.so"), "b"));
  ASSERT_TRUE(writeFile(dir.file("new.so"), "new"));
  ChangeSet changes(fs);
  changes.addRemoval(target);
  changes.addMove(dir.file("new.so"), dir.file("lib/c.so"));
  changes.commit(false);
  // Outside a router root there is no database and so no journal.
  std::vector<std::string> expected = {
      "unlink " + target,
      "list " + target,
      "unlink " + target + "/a.so",
      "unlink " + target + "/b.so",
      "rmdir " + target,
      "mkdir " + target,
      "rename " + dir.file("lib/c.so") + " from " + dir.file("new.so"),
      "syncfs " + dir.path(),
  };
  std::vector<std::string> log = fs.log;
  std::sort(log.begin() + 2, log.begin() + 4);  // directory order is the system's
  EXPECT_EQ(expected, log);
  EXPECT_EQ("new", readFile(dir.file("lib/c.so")));
  EXPECT_FALSE(pathExists(dir.file("lib/a.so")));
  EXPECT_FALSE(pathExists(dir.file("new.so")));
}

TEST(ChangeSetCommit, RemovedDirectoryKeepsHiddenEntriesAndStagedFiles) {
  TempDir dir;
  std::string target = dir.file("lib");
  ASSERT_TRUE(writeFile(dir.file("lib/a.so"), "a"));
  ASSERT_TRUE(writeFile(dir.file("lib/.hidden"), "h"));
  ASSERT_TRUE(writeFile(dir.file("lib/sub/x"), "x"));
  ASSERT_TRUE(writeFile(dir.file("var/a.db"), "a"));
  ChangeSet changes;
  changes.addRemoval(target);
  // Staged next to its target, inside a directory the same commit empties.
  std::string staged = stage(changes, dir.file("var/b.db"), "b");
  ASSERT_EQ(dir.file("var"), parentDirectory(staged));
  changes.addRemoval(dir.file("var/"));
  changes.commit(false);
  EXPECT_FALSE(pathExists(dir.file("lib/a.so")));
  EXPECT_EQ("h", readFile(dir.file("lib/.hidden")));
  EXPECT_EQ("x", readFile(dir.file("lib/sub/x")));
  EXPECT_FALSE(pathExists(dir.file("var/a.db")));
  EXPECT_EQ("b", readFile(dir.file("var/b.db")));
  EXPECT_FALSE(pathExists(staged));
}

TEST(ChangeSetCommit, ADirectoryThatCannotBeListedToItsEndIsLeftWhole) {
  // The read fails after one name: the names not read yet would be lost
  // with the directory, so not even the one read is removed.
  FakeFileSystem fs;
  fs.scriptError("unlink", "/flash/lib", EISDIR);
  fs.scriptDirectory("/flash/lib", {"a.so"});
  fs.scriptError("list", "/flash/lib", EOVERFLOW);
  ChangeSet changes(fs);
  changes.put("/flash/lib", ChangeAction{ChangeKind::Remove, ""});
  testing::internal::CaptureStderr();
  changes.commit(false);
  EXPECT_EQ("readdir: " + std::string(strerror(EOVERFLOW)) + "\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ((std::vector<std::string>{"unlink /flash/lib", "list /flash/lib"}), fs.log);

  // The real listing reports a failed read instead of a short list.
  if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to mount a damaged directory";
  TempDir dir;
  UnreadableDirectory broken(dir.file("broken"));
  if (!broken.ready()) GTEST_SKIP() << broken.why();
  std::vector<std::string> names;
  EXPECT_EQ(EBADMSG, FileSystem::real().listDirectory(dir.file("broken"), &names));
}

TEST(ChangeSetCommit, CrossFileSystemMoveCopiesAndLeavesTheStagedFile) {
  if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to mount";
  TempDir dir;
  ScopedTmpfs flash(dir.file("flash"), "64k");
  ASSERT_TRUE(flash.mounted());
  ChangeSet changes;
  // A staged file outside the mount, as one staged in "/ram" would be.
  std::string staged = dir.file("tmpSTAGED");
  ASSERT_TRUE(writeFile(staged, "content"));
  ASSERT_EQ(0, chmod(staged.c_str(), 0640));
  changes.put(dir.file("flash/etc/conf"), ChangeAction{ChangeKind::MoveStaged, staged});
  changes.commit(false);
  EXPECT_EQ("content", readFile(dir.file("flash/etc/conf")));
  EXPECT_EQ("640", permissions(dir.file("flash/etc/conf")));
  EXPECT_EQ("content", readFile(staged));
  unlink(staged.c_str());
}

TEST(ChangeSetManifest, RoundTripKeepsKindsOrderAndTurnsStagedIntoMove) {
  TempDir dir;
  ChangeSet changes;
  std::string staged = stage(changes, dir.file("flash/b"), "b");
  // Every target lies below the test's directory, so that their order does
  // not depend on where that is.
  changes.addMove("/rw/pckg/x.npk", dir.file("flash/var/pdb/x/image"));
  changes.addSymlink("/flash/bootimage", dir.file("flash/var/pdb/y/image"));
  ASSERT_TRUE(writeFile(dir.file("flash/old"), "old"));
  changes.addRemoval(dir.file("flash/old"));
  changes.addRemoval(dir.file("flash"));
  ASSERT_TRUE(changes.writeManifest(dir.file("MANIFEST")));
  EXPECT_EQ("U " + dir.file("flash") + "\n" +
                "M " + dir.file("flash/b") + " " + staged + "\n" +
                "U " + dir.file("flash/old") + "\n" +
                "M " + dir.file("flash/var/pdb/x/image") + " /rw/pckg/x.npk\n" +
                "L " + dir.file("flash/var/pdb/y/image") + " /flash/bootimage\n",
            readFile(dir.file("MANIFEST")));
  ChangeSet read;
  EXPECT_TRUE(read.readManifest(dir.file("MANIFEST")));
  std::string expected = listing(changes);
  size_t stagedKind = expected.find("1 " + dir.file("flash/b"));
  ASSERT_NE(std::string::npos, stagedKind);
  expected[stagedKind] = '0';
  EXPECT_EQ(expected, listing(read));
  // A change set read back owns no staged file.
  read.cancel();
  EXPECT_TRUE(pathExists(staged));
  changes.cancel();
  EXPECT_FALSE(pathExists(staged));
}

struct ReadResult {
  bool ok;
  std::string entries;
};

ReadResult readManifestText(const std::string& text) {
  TempDir dir;
  writeFile(dir.file("MANIFEST"), text);
  ChangeSet changes;
  bool ok = changes.readManifest(dir.file("MANIFEST"));
  return ReadResult{ok, listing(changes)};
}

TEST(ChangeSetManifest, ReaderRules) {
  ReadResult unknown = readManifestText("X /a /b\nU /c\n");
  EXPECT_TRUE(unknown.ok);
  EXPECT_EQ("4 /c \n", unknown.entries);

  ReadResult shortMove = readManifestText("U /c\nM /a\nU /d\n");
  EXPECT_FALSE(shortMove.ok);
  EXPECT_EQ("4 /c \n", shortMove.entries);  // entries before the stop stay

  EXPECT_FALSE(readManifestText("L /a\n").ok);
  EXPECT_FALSE(readManifestText("U\n").ok);
  EXPECT_FALSE(readManifestText("X\n").ok);  // one field, whatever the letter
  EXPECT_FALSE(readManifestText("U \n").ok);

  ReadResult removalWithThird = readManifestText("U /a /b\n");
  EXPECT_TRUE(removalWithThird.ok);
  EXPECT_EQ("4 /a \n", removalWithThird.entries);

  ReadResult noFinalFeed = readManifestText("U /a\nM /b /s");
  EXPECT_TRUE(noFinalFeed.ok);
  EXPECT_EQ("4 /a \n0 /b /s\n", noFinalFeed.entries);

  ReadResult emptyLineEnds = readManifestText("U /a\n\nU /b\n");
  EXPECT_TRUE(emptyLineEnds.ok);
  EXPECT_EQ("4 /a \n", emptyLineEnds.entries);

  ReadResult linkWithBlank = readManifestText("L /a some text\n");
  EXPECT_EQ("3 /a some text\n", linkWithBlank.entries);

  ReadResult empty = readManifestText("");
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ("", empty.entries);

  EXPECT_FALSE(readManifestText("U /" + std::string(20000, 'a') + "\n").ok);

  ChangeSet changes;
  EXPECT_FALSE(changes.readManifest("/nonexistent/MANIFEST"));
  TempDir dir;
  EXPECT_FALSE(changes.readManifest(dir.path()));  // a directory: read error, nothing read
  EXPECT_TRUE(changes.empty());
}

TEST(ChangeSetManifest, UnwritableManifestIsReportedAndCancelsTheRun) {
  TempDir dir;
  ChangeSet changes;
  std::string staged = stage(changes, dir.file("a"), "a");
  Console& db = Console::active();
  db.messages.clear();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(changes.writeManifest(dir.file("missing/MANIFEST")));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(1u, db.messages.size());
  EXPECT_EQ("ERROR: could not write " + dir.file("missing/MANIFEST") + ": No such file or directory",
            db.messages[0]);
  EXPECT_TRUE(changes.empty());
  EXPECT_FALSE(pathExists(staged));
}

TEST(ChangeSetManifest, FullDiskWhileWritingRemovesThePartialManifest) {
  if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to mount";
  TempDir dir;
  ScopedTmpfs ram(dir.file("ram"), "4k");
  ASSERT_TRUE(ram.mounted());
  ChangeSet changes;
  std::string staged = stage(changes, dir.file("staged-target"), "a");
  for (int i = 0; i < 200; ++i) changes.addMove("/source/" + std::to_string(i), "/flash/file" + std::to_string(i));
  Console& db = Console::active();
  db.messages.clear();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(changes.writeManifest(dir.file("ram/MANIFEST")));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(1u, db.messages.size());
  EXPECT_EQ("ERROR: could not write " + dir.file("ram/MANIFEST") + ": No space left on device",
            db.messages[0]);
  EXPECT_FALSE(pathExists(dir.file("ram/MANIFEST")));
  EXPECT_TRUE(changes.empty());
  EXPECT_FALSE(pathExists(staged));
}

TEST(ChangeSetManifest, PathTheFormatCannotCarryFailsBeforeAnythingIsWritten) {
  TempDir dir;
  Console& db = Console::active();
  for (const std::string& target : {dir.file("with blank"), dir.file("with\nfeed")}) {
    ChangeSet changes;
    std::string kept = stage(changes, dir.file("plain"), "a");
    std::string odd = stage(changes, target, "b");
    db.messages.clear();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(changes.writeManifest(dir.file("MANIFEST")));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(1u, db.messages.size());
    EXPECT_EQ("ERROR: could not write " + dir.file("MANIFEST") + ": the path \"" + target +
                  "\" cannot be carried by it",
              db.messages[0]);
    EXPECT_FALSE(pathExists(dir.file("MANIFEST")));
    EXPECT_TRUE(changes.empty());
    EXPECT_FALSE(pathExists(kept));
    EXPECT_FALSE(pathExists(odd));
  }
  ChangeSet links;  // a link text may hold blanks: it runs to the end of the line
  links.addSymlink("a b", dir.file("link"));
  EXPECT_TRUE(links.writeManifest(dir.file("MANIFEST")));
  EXPECT_EQ("L " + dir.file("link") + " a b\n", readFile(dir.file("MANIFEST")));
}

}  // namespace

// Finishing an interrupted commit from its journal, refusing forged
// journal and manifest lines, the orphan sweep, and paths of any depth.
#include "commit/journal.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>

#include "commit/change_set.h"
#include "commit/commit_paths.h"
#include "commit/directories.h"
#include "commit/manifest.h"
#include "console/console.h"
#include "support/fake_file_system.h"
#include "support/power_cut_file_system.h"
#include "support/temp_dir.h"

namespace {

// The messages the active console printed during `body`.
template <typename Body>
std::string messagesOf(Body body) {
  Console& console = Console::active();
  bool wasQuiet = console.quiet;
  console.quiet = false;
  size_t before = console.messages.size();
  testing::internal::CaptureStdout();
  body();
  testing::internal::GetCapturedStdout();
  std::string text;
  for (size_t i = before; i < console.messages.size(); ++i) text += console.messages[i] + "\n";
  console.quiet = wasQuiet;
  return text;
}

std::string contentOf(PowerCutFileSystem& fs, const std::string& path) {
  std::string content;
  return fs.readFile(path, 1 << 20, &content) == 0 ? content : "<missing>";
}

void oldWeb(PowerCutFileSystem& fs) {
  fs.addDirectory("/ram");
  fs.addFile("/flash/var/pdb/web/version", "1 0\n");
  fs.addFile("/flash/www/web/a", "old a");
  fs.addFile("/flash/www/web/old", "old only");
}

TEST(Journal, FinishesWhatWasLeftAndSaysSo) {
  PowerCutFileSystem fs;
  oldWeb(fs);
  // Cut after the first move: "a" is new already, the rest is not.
  fs.addFile("/flash/var/pdb/.staging/tmp000002", "2 0\n");
  fs.addFile("/flash/www/web/a", "new a");
  fs.addFile(paths::kJournal,
             "M /flash/var/pdb/web/version /flash/var/pdb/.staging/tmp000002\n"
             "M /flash/www/web/a /flash/var/pdb/.staging/tmp000001\n"
             "U /flash/www/web/old\n");
  fs.addFile(paths::kJournalApplying, "");
  JournalOutcome outcome;
  EXPECT_EQ("finished an interrupted install\n", messagesOf([&] { outcome = finishInterruptedCommit(fs); }));
  EXPECT_TRUE(outcome.found);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ("2 0\n", contentOf(fs, "/flash/var/pdb/web/version"));
  EXPECT_EQ("new a", contentOf(fs, "/flash/www/web/a"));
  EXPECT_FALSE(fs.exists("/flash/www/web/old"));
  EXPECT_FALSE(fs.exists(paths::kJournal));
  EXPECT_FALSE(fs.exists(paths::kJournalApplying));

  // Nothing left to finish: silent, and nothing changes.
  std::map<std::string, std::string> before = fs.contents();
  EXPECT_EQ("", messagesOf([&] { outcome = finishInterruptedCommit(fs); }));
  EXPECT_FALSE(outcome.found);
  EXPECT_EQ(before, fs.contents());
}

TEST(Journal, LostStagedFilesAbandonTheCommitAndNameThePackage) {
  PowerCutFileSystem fs;
  oldWeb(fs);
  // Staged in "/ram", which the power cut emptied, before the copies beside
  // the targets were made: no target has changed.
  fs.addFile("/flash/www/web/.a.commit-copy", "half a cop");
  fs.addFile(paths::kJournal,
             "M /flash/var/pdb/web/version /ram/tmp000002\n"
             "M /flash/www/web/a /ram/tmp000001\n"
             "U /flash/www/web/old\n");
  std::map<std::string, std::string> expected = fs.contents();
  expected.erase("/flash/www/web/.a.commit-copy");
  expected.erase(paths::kJournal);
  JournalOutcome outcome;
  EXPECT_EQ("ERROR: could not finish the interrupted install of web\n",
            messagesOf([&] { outcome = finishInterruptedCommit(fs); }));
  EXPECT_FALSE(outcome.finished);
  EXPECT_EQ(std::vector<std::string>{"web"}, outcome.unfinished);
  EXPECT_EQ(expected, fs.contents());
}

TEST(Journal, ForgedLinesAreRefusedAndNothingIsApplied) {
  for (const char* line : {"M /flash/www/web/a /flash/../etc/shadow", "U ../../etc", "M relative /x",
                           "U /flash/www/web/.."}) {
    PowerCutFileSystem fs;
    oldWeb(fs);
    fs.addFile("/flash/x", "x");
    fs.addFile(paths::kJournal, std::string("U /flash/www/web/old\n") + line + "\n");
    std::map<std::string, std::string> expected = fs.contents();
    expected.erase(paths::kJournal);
    EXPECT_EQ(std::string("ERROR: refused journal line \"") + line +
                  "\"\nERROR: could not finish an interrupted install\n",
              messagesOf([&] { finishInterruptedCommit(fs); }));
    EXPECT_EQ(expected, fs.contents()) << line;
  }
}

TEST(Journal, ManifestLinesWithPathsOutsideTheTreeAreRefused) {
  PowerCutFileSystem fs;
  fs.addFile(paths::kManifest,
             "U /flash/a\nL /flash/link ../relative/text\nM /flash/b /ram/../etc/passwd\nU /flash/c\n");
  ChangeSet changes(fs);
  bool read = true;
  EXPECT_EQ("ERROR: refused manifest line \"M /flash/b /ram/../etc/passwd\"\n",
            messagesOf([&] { read = changes.readManifest(paths::kManifest); }));
  EXPECT_FALSE(read);
  // The lines before the refused one stay, as after a malformed line; a
  // link's text is no path the commit acts on.
  ASSERT_EQ(2u, changes.size());
  EXPECT_NE(nullptr, changes.find("/flash/a"));
  EXPECT_NE(nullptr, changes.find("/flash/link"));

  EXPECT_TRUE(isCarriedPath("/flash/a..b/..c"));
  EXPECT_FALSE(isCarriedPath("/flash/../x"));
  EXPECT_FALSE(isCarriedPath("/.."));
  EXPECT_FALSE(isCarriedPath("flash/x"));
  EXPECT_FALSE(isCarriedPath(""));
}

TEST(Journal, OrphanedStagedFilesGoNamedOnesStay) {
  PowerCutFileSystem fs;
  fs.addFile("/flash/var/pdb/.staging/tmpNAMED1", "named");
  fs.addFile("/flash/var/pdb/.staging/tmpORPHAN", "orphan");
  fs.addFile("/flash/var/pdb/.staging/image", "stream copy");
  fs.addFile("/flash/var/pdb/image", "stream copy of an earlier version");
  fs.addFile("/flash/var/pdb/web/image", "a kept image");
  fs.addFile("/ram/tmpRAMNAM", "named");
  fs.addFile("/ram/tmpRAMORP", "orphan");
  fs.addFile("/ram/.MANIFEST.commit-copy", "cut manifest");
  fs.addFile("/ram/other", "not ours");
  fs.addFile(paths::kManifest,
             "M /flash/a /flash/var/pdb/.staging/tmpNAMED1\nM /flash/b /ram/tmpRAMNAM\n");
  removeOrphanedStagedFiles(fs);
  std::map<std::string, std::string> left = fs.contents();
  EXPECT_TRUE(left.count("/flash/var/pdb/.staging/tmpNAMED1"));
  EXPECT_TRUE(left.count("/ram/tmpRAMNAM"));
  EXPECT_TRUE(left.count("/ram/other"));
  EXPECT_TRUE(left.count("/flash/var/pdb/web/image"));
  for (const char* gone : {"/flash/var/pdb/.staging/tmpORPHAN", "/flash/var/pdb/.staging/image",
                           "/flash/var/pdb/image", "/ram/tmpRAMORP", "/ram/.MANIFEST.commit-copy"}) {
    EXPECT_FALSE(left.count(gone)) << gone;
  }

  // Without a manifest nothing is named: the staging directory empties
  // and goes.
  fs.unlink(paths::kManifest);
  removeOrphanedStagedFiles(fs);
  EXPECT_FALSE(fs.exists(paths::kStagingDir));
  EXPECT_FALSE(fs.exists("/ram/tmpRAMNAM"));
}

TEST(Journal, PathsOfAnyDepthCostTheirLengthOnly) {
  // A signed package may name a path of 32,000 components.
  std::string deep;
  for (int i = 0; i < 32000; ++i) deep += "/a";
  FakeFileSystem fs;
  fs.scriptError("mkdir", deep, ENOENT);
  makeDirectories(fs, deep);
  // One try of the whole path, then one call per level the system could
  // take at all (it refuses longer paths).
  EXPECT_LE(fs.log.size(), static_cast<size_t>(PATH_MAX / 2 + 2));
  EXPECT_EQ("mkdir /a", fs.log[1]);
  EXPECT_EQ("mkdir /a/a", fs.log[2]);
  // No file system answers for any ancestor: staged in "/ram".
  EXPECT_EQ("/ram", chooseStagingDirectory(fs, deep + "/file", 100));
}

}  // namespace

namespace {

TEST(JournalText, ManyEntriesAreWrittenInPiecesThatMakeTheWholeText) {
  ChangeEntries entries;
  for (int i = 0; i < 5000; ++i) {
    std::string n = std::to_string(i);
    entries.put("/flash/lib/f" + n, ChangeAction{ChangeKind::MoveStaged, "/flash/var/pdb/.staging/tmp" + n});
    if (i % 7 == 0) entries.put("/flash/old/g" + n, ChangeAction{ChangeKind::Remove, ""});
    if (i % 11 == 0) entries.put("/flash/bin/l" + n, ChangeAction{ChangeKind::Symlink, "../lib/f" + n});
  }
  std::string whole = manifestText(entries);
  ASSERT_GT(whole.size(), 3u * 65536);
  ManifestPieces pieces(entries);
  std::string piece, joined;
  int count = 0;
  while (pieces.next(&piece)) {
    EXPECT_EQ('\n', piece.back());
    EXPECT_LE(piece.size(), 65536u + kMaxManifestLine);
    joined += piece;
    ++count;
  }
  EXPECT_GT(count, 3);
  EXPECT_EQ(whole, joined);
  EXPECT_FALSE(pieces.next(&piece));
  EXPECT_TRUE(piece.empty());

  // Written by the real file system, and through the default for fakes.
  testing_support::TempDir dir;
  ManifestPieces again(entries);
  ASSERT_EQ(0, FileSystem::real().writeFileFrom(dir.file("journal"), again));
  EXPECT_EQ(whole, testing_support::readFile(dir.file("journal")));
  PowerCutFileSystem fake;
  fake.addDirectory("/flash");
  ManifestPieces once_more(entries);
  ASSERT_EQ(0, fake.writeFileFrom("/flash/journal", once_more));
  std::string read;
  ASSERT_EQ(0, fake.readFile("/flash/journal", 1 << 24, &read));
  EXPECT_EQ(whole, read);
  ChangeEntries noEntries;
  ManifestPieces none(noEntries);
  EXPECT_EQ(0, FileSystem::real().writeFileFrom(dir.file("empty"), none));
  EXPECT_EQ("", testing_support::readFile(dir.file("empty")));
}

TEST(JournalText, PathsTheManifestCannotCarryGoOnEscapedLinesThatOnlyTheJournalReads) {
  ChangeEntries entries;
  entries.put("/flash/doc/read me", ChangeAction{ChangeKind::MoveStaged, "/flash/var/pdb/.staging/tmp1"});
  entries.put("/flash/doc/a\\b c", ChangeAction{ChangeKind::Remove, ""});
  entries.put("/flash/doc/line\nfeed", ChangeAction{ChangeKind::Symlink, "to a b"});
  entries.put("/flash/doc/plain", ChangeAction{ChangeKind::MoveStaged, "/ram/dir with blank/tmp2"});
  ManifestPieces pieces(entries, true);
  std::string text, piece;
  while (pieces.next(&piece)) text += piece;
  EXPECT_EQ("u /flash/doc/a\\134b\\040c\n"
            "l /flash/doc/line\\012feed to\\040a\\040b\n"
            "M /flash/doc/plain /ram/dir with blank/tmp2\n"
            "m /flash/doc/read\\040me /flash/var/pdb/.staging/tmp1\n",
            text);

  ChangeEntries read;
  std::string badLine;
  ASSERT_EQ(ManifestRead::Complete, parseManifest(text, &read, &badLine, true));
  ASSERT_EQ(4u, read.size());
  EXPECT_EQ("/flash/var/pdb/.staging/tmp1", read.at("/flash/doc/read me").source);
  EXPECT_EQ(ChangeKind::Remove, read.at("/flash/doc/a\\b c").kind);
  EXPECT_EQ("to a b", read.at("/flash/doc/line\nfeed").source);
  EXPECT_EQ("/ram/dir with blank/tmp2", read.at("/flash/doc/plain").source);
  // A manifest passes escaped lines over, as any other unknown line.
  ChangeEntries manifest;
  ASSERT_EQ(ManifestRead::Complete, parseManifest(text, &manifest, &badLine));
  EXPECT_EQ(1u, manifest.size());
  // Bad escapes, and escaped paths outside the tree.
  for (const char* bad : {"u /flash/a\\04", "u /flash/a\\089", "u /flash/a\\x", "m /flash/a /b\\"}) {
    ChangeEntries none;
    EXPECT_EQ(ManifestRead::Malformed, parseManifest(std::string(bad) + "\n", &none, &badLine, true)) << bad;
  }
  ChangeEntries none;
  EXPECT_EQ(ManifestRead::Refused, parseManifest("u /flash/\\056\\056/etc\n", &none, &badLine, true));
}

}  // namespace

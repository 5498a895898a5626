// A commit cut by a power failure at every one of its steps, and the run
// after it cut again at every step of finishing: through a file system that
// keeps only what was flushed, the next boot must find every package
// wholly old or wholly new and nothing the commit left behind.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <string>

#include "commit/commit_paths.h"
#include "commit/durable_commit.h"
#include "commit/journal.h"
#include "console/console.h"
#include "support/power_cut_file_system.h"

namespace {

typedef std::map<std::string, std::string> Contents;

// The groups whose paths must change together.
std::string groupOf(const std::string& path) {
  for (const char* web : {"/flash/www/web", "/flash/var/pdb/web"}) {
    if (path.compare(0, strlen(web), web) == 0) return "web";
  }
  for (const char* gone : {"/flash/bin/gone", "/flash/var/pdb/gone"}) {
    if (path.compare(0, strlen(gone), gone) == 0) return "gone";
  }
  if (path.compare(0, 10, "/flash/lib") == 0 && path.size() > 10) return "lib";
  return "";
}

std::map<std::string, Contents> groups(const Contents& all) {
  std::map<std::string, Contents> split = {{"web", {}}, {"gone", {}}, {"lib", {}}, {"", {}}};
  for (const auto& entry : all) split[groupOf(entry.first)].insert(entry);
  return split;
}

// The old installed state: "web" 1 (three files, two dropped by the
// upgrade; names with a blank or a backslash need the journal's escapes), "gone" (to be uninstalled), a library directory that the
// commit removes and fills again. The staged files of the commit are
// written but not flushed, in `staging`.
ChangeEntries prepare(PowerCutFileSystem& fs, const std::string& staging) {
  fs.addDirectory("/ram");
  fs.addDirectory("/flash/var/pdb/.staging");
  fs.addFile("/flash/var/pdb/web/version", "1 0\n");
  fs.addFile("/flash/var/pdb/web/files", "flash/www/web/a\nflash/www/web/old\n");
  fs.addFile("/flash/www/web/a", "old a");
  fs.addFile("/flash/www/web/old", "old only");
  fs.addFile("/flash/www/web/old copy", "old copy");
  fs.addFile("/flash/var/pdb/gone/version", "1 0\n");
  fs.addFile("/flash/bin/gone", "gone");
  fs.addFile("/flash/lib/dir/x.so", "old x");
  fs.addFile("/flash/postlog", "kept\n");
  std::map<std::string, std::string> staged = {
      {"/flash/www/web/a", "new a"},
      {"/flash/www/web/b", "new b"},
      {"/flash/www/web/read me\\now", "new readme"},
      {"/flash/var/pdb/web/version", "2 0\n"},
      {"/flash/var/pdb/web/files", "flash/www/web/a\nflash/www/web/b\n"},
      {"/flash/lib/dir/new.so", "new so"},
  };
  ChangeEntries entries;
  for (const auto& file : staged) {
    std::string path;
    fs.createTemporaryFile(staging, &path);
    fs.writeFile(path, file.second);
    entries.put(file.first, ChangeAction{ChangeKind::MoveStaged, path});
  }
  for (const char* removed : {"/flash/bin/gone", "/flash/lib/dir", "/flash/var/pdb/gone/",
                              "/flash/www/web/old", "/flash/www/web/old copy"}) {
    entries.put(removed, ChangeAction{ChangeKind::Remove, ""});
  }
  entries.put("/flash/var/pdb/web/image", ChangeAction{ChangeKind::Symlink, "/flash/bootimage"});
  return entries;
}

void nextBoot(PowerCutFileSystem& fs) {
  finishInterruptedCommit(fs);
  removeOrphanedStagedFiles(fs);
}

bool isDebris(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  return (name.size() == 9 && name.compare(0, 3, "tmp") == 0) ||
         name.find(".commit-copy") != std::string::npos || name.compare(0, 8, ".journal") == 0;
}

struct Outcome {
  int points = 0, old = 0, fresh = 0;
  std::string failures;
};

void judge(const Contents& now, const std::map<std::string, Contents>& old,
           const std::map<std::string, Contents>& fresh, const std::string& point, Outcome* outcome) {
  std::map<std::string, Contents> split = groups(now);
  std::string problems;
  int oldGroups = 0, newGroups = 0;
  for (const auto& group : split) {
    if (group.first.empty()) continue;
    if (group.second == old.at(group.first)) ++oldGroups;
    if (group.second == fresh.at(group.first)) ++newGroups;
    if (group.second != old.at(group.first) && group.second != fresh.at(group.first)) {
      problems += " " + group.first + " mixed;";
    }
  }
  for (const auto& entry : split[""]) {
    if (isDebris(entry.first) || (!old.at("").count(entry.first) && !fresh.at("").count(entry.first))) {
      problems += " left " + entry.first + ";";
    }
  }
  ++outcome->points;
  if (!problems.empty()) {
    outcome->failures += point + ":" + problems + "\n";
    if (getenv("POWER_CUT_DEBUG")) {
      for (const auto& entry : now) std::cerr << entry.first << " " << entry.second << "\n";
    }
  }
  if (problems.empty() && oldGroups == 3) ++outcome->old;
  if (problems.empty() && newGroups == 3) ++outcome->fresh;
}

// Cuts the commit after every number of changing operations, and the
// finishing run after every number of its own, then boots once more.
Outcome sweep(const std::string& staging) {
  bool wasQuiet = Console::active().quiet;
  Console::active().quiet = true;
  PowerCutFileSystem reference;
  ChangeEntries entries = prepare(reference, staging);
  std::map<std::string, Contents> old = groups(reference.contents());
  DurableCommit(reference, entries, false).run();
  reference.cut();
  nextBoot(reference);
  std::map<std::string, Contents> fresh = groups(reference.contents());

  Outcome outcome;
  for (long cut = 0;; ++cut) {
    bool commitCompleted = false;
    for (long second = -1;; ++second) {
      PowerCutFileSystem fs;
      ChangeEntries mine = prepare(fs, staging);
      fs.cutAfter(cut);
      DurableCommit(fs, mine, false).run();
      commitCompleted = !fs.powerLost();
      fs.cut();
      if (second >= 0) {
        fs.cutAfter(second);
        nextBoot(fs);
        bool finishingCompleted = !fs.powerLost();
        fs.cut();
        if (finishingCompleted && second > 0) break;
      }
      nextBoot(fs);
      judge(fs.contents(), old, fresh,
            "cut after " + std::to_string(cut) + " then " + std::to_string(second), &outcome);
      if (commitCompleted) break;
    }
    if (commitCompleted) break;
  }
  Console::active().quiet = wasQuiet;
  return outcome;
}

TEST(PowerCut, StagedOnFlashEveryCutEndsOldOrNew) {
  Outcome outcome = sweep("/flash/var/pdb/.staging");
  std::cout << "[ power cut ] staged on flash: " << outcome.points << " points, " << outcome.old
            << " old, " << outcome.fresh << " new" << std::endl;
  EXPECT_EQ("", outcome.failures);
  EXPECT_GT(outcome.old, 0);
  EXPECT_GT(outcome.fresh, 0);
  EXPECT_EQ(outcome.points, outcome.old + outcome.fresh);
}

TEST(PowerCut, StagedInRamEveryCutEndsOldOrNew) {
  // A full flash: every staged file sits in volatile "/ram", which a cut
  // empties. Before the copies beside the targets are flushed the commit
  // cannot be finished and nothing has changed; after, it can.
  Outcome outcome = sweep("/ram");
  std::cout << "[ power cut ] staged in /ram: " << outcome.points << " points, " << outcome.old
            << " old, " << outcome.fresh << " new" << std::endl;
  EXPECT_EQ("", outcome.failures);
  EXPECT_GT(outcome.old, 0);
  EXPECT_GT(outcome.fresh, 0);
  EXPECT_EQ(outcome.points, outcome.old + outcome.fresh);
}

// A nearly full flash where the upgrade fits only by reusing the space of
// the files it replaces: "web" 1 has a 12 KiB file a and a 40 KiB file
// that goes; "web" 2 brings a new a and a new 8 KiB b, staged in "/ram".
// The flash holds the old files, the journal, the new entry and two
// blocks more: b is copied beside its target, a only once old is gone.
ChangeEntries prepareReuse(PowerCutFileSystem& fs) {
  const uint64_t block = PowerCutFileSystem::kBlockSize;
  fs.addDirectory("/ram");
  fs.addFile("/flash/var/pdb/web/version", "1 0\n");
  fs.addFile("/flash/var/pdb/web/files", "flash/www/web/a\nflash/www/web/old\n");
  fs.addFile("/flash/www/web/a", std::string(3 * block, 'a'));
  fs.addFile("/flash/www/web/old", std::string(10 * block, 'o'));
  fs.setFlashCapacity((fs.flashBlocksUsed() + 4 + 2 + 2) * block);
  std::map<std::string, std::string> staged = {
      {"/flash/www/web/a", std::string(3 * block, 'A')},
      {"/flash/www/web/b", std::string(2 * block, 'B')},
      {"/flash/var/pdb/web/version", "2 0\n"},
      {"/flash/var/pdb/web/files", "flash/www/web/a\nflash/www/web/b\n"},
  };
  ChangeEntries entries;
  for (const auto& file : staged) {
    std::string path;
    fs.createTemporaryFile("/ram", &path);
    fs.writeFile(path, file.second);
    entries.put(file.first, ChangeAction{ChangeKind::MoveStaged, path});
  }
  entries.put("/flash/www/web/old", ChangeAction{ChangeKind::Remove, ""});
  return entries;
}

// What lasts: everything but "/ram".
Contents flashOf(const PowerCutFileSystem& fs) {
  Contents all = fs.contents();
  for (auto entry = all.begin(); entry != all.end();) {
    entry = entry->first.compare(0, 4, "/ram") == 0 ? all.erase(entry) : std::next(entry);
  }
  return all;
}

TEST(PowerCut, ReuseOfReplacedFilesNeverLetsTheEntryClaimAMissingFile) {
  bool wasQuiet = Console::active().quiet;
  Console::active().quiet = true;
  PowerCutFileSystem reference;
  ChangeEntries entries = prepareReuse(reference);
  Contents old = flashOf(reference);
  CommitOutcome outcome = DurableCommit(reference, entries, false).run();
  ASSERT_TRUE(outcome.applied) << outcome.error;
  Contents fresh = flashOf(reference);
  ASSERT_EQ("f " + std::string(3 * PowerCutFileSystem::kBlockSize, 'A'), fresh["/flash/www/web/a"]);

  int points = 0, oldPoints = 0, newPoints = 0, repaired = 0;
  std::string failures;
  for (long cut = 0;; ++cut) {
    PowerCutFileSystem fs;
    ChangeEntries mine = prepareReuse(fs);
    fs.cutAfter(cut);
    DurableCommit(fs, mine, false).run();
    bool completed = !fs.powerLost();
    fs.cut();  // "/ram" is lost with the power
    nextBoot(fs);
    Contents now = flashOf(fs);
    std::string point = "cut after " + std::to_string(cut);
    ++points;
    for (const auto& entry : now) {
      if (isDebris(entry.first)) failures += point + ": left " + entry.first + "\n";
    }
    if (now == old) {
      ++oldPoints;
    } else if (now == fresh) {
      ++newPoints;
    } else if (now["/flash/var/pdb/web/version"] != old["/flash/var/pdb/web/version"] ||
               now["/flash/var/pdb/web/files"] != old["/flash/var/pdb/web/files"]) {
      failures += point + ": the entry changed while its files are not all new\n";
    } else {
      // The old entry with some of its files replaced: installing the
      // package again makes it wholly new.
      ChangeEntries again = prepareReuse(fs);
      DurableCommit(fs, again, false).run();
      if (flashOf(fs) == fresh) {
        ++repaired;
      } else {
        failures += point + ": installing again does not repair it\n";
      }
    }
    if (completed) break;
  }
  Console::active().quiet = wasQuiet;
  std::cout << "[ power cut ] reuse on a full flash: " << points << " points, " << oldPoints << " old, "
            << newPoints << " new, " << repaired << " repaired by installing again" << std::endl;
  EXPECT_EQ("", failures);
  EXPECT_GT(oldPoints, 0);
  EXPECT_GT(repaired, 0);
}

}  // namespace

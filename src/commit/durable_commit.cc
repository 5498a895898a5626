#include "commit/durable_commit.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "commit/commit_paths.h"
#include "commit/directories.h"
#include "commit/manifest.h"

namespace {

void printSystemError(const char* prefix, int error) {
  fprintf(stderr, "%s: %s\n", prefix, strerror(error));
}

std::string journalDirectory() { return parentDirectory(paths::kJournal); }

bool isDatabaseTarget(const std::string& target) {
  return target.compare(0, strlen(paths::kDatabaseRoot), paths::kDatabaseRoot) == 0;
}

}  // namespace

std::string DurableCommit::copyBeside(const std::string& target) { return temporaryBeside(target); }

void DurableCommit::run() {
  if (entries_.empty()) return;
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind)) continue;
    kept_.insert(entry.first);
    kept_.insert(entry.second.source);
  }
  journaled_ = writeJournal();
  copyAcrossFileSystems();
  markApplying();
  applyRemovalsAndLinks();
  applyMoves();
  flushTargets();
  deleteJournal();
  removeEmptyStagingDirectory(fs_);
}

DurableCommit::Resumed DurableCommit::resume(bool applying) {
  resumed_ = true;
  journaled_ = true;
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind)) continue;
    kept_.insert(entry.first);
    kept_.insert(entry.second.source);
  }
  if (!applying) {
    for (const auto& entry : entries_) {
      if (isMove(entry.second.kind) && !fs_.exists(entry.second.source)) {
        abandon();
        return Resumed::Abandoned;
      }
    }
    copyAcrossFileSystems();
    markApplying();
  }
  applyRemovalsAndLinks();
  applyMoves();
  flushTargets();
  deleteJournal();
  return Resumed::Finished;
}

bool DurableCommit::writeJournal() {
  for (const auto& entry : entries_) {
    if (uncarriablePath(entry.first, entry.second) || !isCarriedPath(entry.first)) {
      printSystemError("journal", EINVAL);
      return false;
    }
  }
  // No database, no journal: there is nothing a cut commit could leave
  // half installed that the next run would read.
  FileStatus database;
  if (fs_.status(journalDirectory(), &database) != 0 || !database.isDirectory) return false;
  if (int error = fs_.writeFile(paths::kJournalTemporary, manifestText(entries_))) {
    printSystemError("journal", error);
    fs_.unlink(paths::kJournalTemporary);
    return false;
  }
  // The staged files and the journal reach the disk before the journal
  // names them.
  std::vector<std::string> flushed = {paths::kJournalTemporary};
  for (const auto& entry : entries_) {
    if (isMove(entry.second.kind)) flushed.push_back(entry.second.source);
  }
  flushDevicesOf(flushed);
  if (int error = fs_.rename(paths::kJournalTemporary, paths::kJournal)) {
    printSystemError("journal", error);
    fs_.unlink(paths::kJournalTemporary);
    return false;
  }
  fs_.flushFile(journalDirectory());
  return true;
}

void DurableCommit::copyAcrossFileSystems() {
  std::vector<std::string> copies;
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind)) continue;
    const std::string& target = entry.first;
    std::string directory = parentDirectory(target);
    makeDirectories(fs_, directory);
    FileStatus source, parent;
    if (fs_.status(entry.second.source, &source) != 0 || fs_.status(directory, &parent) != 0) {
      continue;
    }
    if (source.device == parent.device) continue;
    // A copy that fails here (a full flash) is tried again when its turn
    // comes, after the removals have freed room.
    std::string copy = copyBeside(target);
    if (fs_.copyFile(entry.second.source, copy, progress_) != 0) {
      fs_.unlink(copy);
      continue;
    }
    copies.push_back(copy);
  }
  flushDevicesOf(copies);
}

void DurableCommit::markApplying() {
  if (!journaled_) return;
  fs_.writeFile(paths::kJournalApplying, std::string());
  fs_.flushFile(journalDirectory());
}

void DurableCommit::applyRemovalsAndLinks() {
  for (const auto& entry : entries_) {
    if (entry.second.kind == ChangeKind::Remove) applyRemoval(entry.first);
    if (entry.second.kind == ChangeKind::Symlink) applySymlink(entry.first, entry.second.source);
  }
}

void DurableCommit::applyMoves() {
  for (int databasePass = 0; databasePass < 2; ++databasePass) {
    for (const auto& entry : entries_) {
      if (!isMove(entry.second.kind) || isDatabaseTarget(entry.first) != (databasePass == 1)) continue;
      applyMove(entry.first, entry.second.source);
    }
  }
}

void DurableCommit::flushTargets() {
  std::vector<std::string> targets = {journalDirectory()};
  for (const auto& entry : entries_) targets.push_back(parentDirectory(entry.first));
  flushDevicesOf(targets);
}

void DurableCommit::deleteJournal() {
  if (!journaled_) return;
  fs_.unlink(paths::kJournal);
  fs_.unlink(paths::kJournalApplying);
  fs_.flushFile(journalDirectory());
}

void DurableCommit::abandon() {
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind)) continue;
    std::string copy = copyBeside(entry.first);
    if (fs_.exists(copy)) fs_.unlink(copy);
  }
  // Only the journal leads the next run to these copies: they must be gone
  // for good before it is.
  flushTargets();
  deleteJournal();
}

void removeEmptyStagingDirectory(FileSystem& fs) {
  if (fs.exists(paths::kStagingDir)) fs.removeDirectory(paths::kStagingDir);
}

void DurableCommit::applyRemoval(const std::string& target) {
  int error = fs_.unlink(target);
  if (error != EISDIR) return;
  std::vector<std::string> names;
  if (int listError = fs_.listDirectory(target, &names)) {
    // What could not be listed is not known to be empty of what must stay.
    printSystemError("readdir", listError);
    return;
  }
  std::string directory = target;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  // Hidden entries and subdirectories stay, and with them the directory.
  for (const std::string& name : names) {
    std::string path = directory + "/" + name;
    if (!name.empty() && name[0] != '.' && !kept_.count(path)) fs_.unlink(path);
  }
  fs_.removeDirectory(target);
}

void DurableCommit::applySymlink(const std::string& target, const std::string& text) {
  makeDirectories(fs_, parentDirectory(target));
  std::string present;
  if (fs_.readLink(target, &present) == 0 && present == text) return;
  // Made beside the target and renamed over it: the target is never
  // missing in between.
  std::string link = copyBeside(target);
  fs_.unlink(link);
  int error = fs_.symlink(text, link);
  if (error == 0) error = fs_.rename(link, target);
  if (error == EISDIR || error == ENOTDIR) {
    fs_.unlink(link);
    fs_.unlink(target);
    error = fs_.symlink(text, target);
  }
  if (error != 0) {
    fs_.unlink(link);
    printSystemError("symlink", error);
  }
}

void DurableCommit::applyMove(const std::string& target, const std::string& source) {
  makeDirectories(fs_, parentDirectory(target));
  std::string copy = copyBeside(target);
  if (fs_.exists(copy)) {
    if (int error = fs_.rename(copy, target)) printSystemError("rename", error);
    return;
  }
  int error = fs_.rename(source, target);
  if (error == EXDEV) {
    copyToTarget(source, target);
  } else if (error == ENOENT && resumed_) {
    // Moved before the interruption.
  } else if (error != 0) {
    printSystemError("rename", error);
  }
}

// A copy the first step could not make: made now, flushed and renamed.
// When even now there is no room, the old target goes first.
bool DurableCommit::copyToTarget(const std::string& source, const std::string& target) {
  std::string copy = copyBeside(target);
  int error = fs_.copyFile(source, copy, progress_);
  if (error == ENOSPC || error == EDQUOT) {
    fs_.unlink(copy);
    fs_.unlink(target);
    error = fs_.copyFile(source, copy, progress_);
  }
  if (error == 0) error = fs_.flushFile(copy);
  if (error == 0) error = fs_.rename(copy, target);
  if (error != 0) fs_.unlink(copy);
  return error == 0;
}

void DurableCommit::flushDevicesOf(const std::vector<std::string>& paths) {
  std::set<uint64_t> flushed;
  for (const std::string& path : paths) {
    FileStatus status;
    if (fs_.status(path, &status) != 0) continue;
    if (!flushed.insert(status.device).second) continue;
    if (int error = fs_.flushFileSystem(path)) printSystemError("syncfs", error);
  }
}

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
    if (!isCarriedPath(entry.first)) {
      printSystemError("journal", EINVAL);
      return false;
    }
  }
  // No database, no journal: there is nothing a cut commit could leave
  // half installed that the next run would read.
  FileStatus database;
  if (fs_.status(journalDirectory(), &database) != 0 || !database.isDirectory) return false;
  ManifestPieces journalText(entries_, true);
  if (int error = fs_.writeFileFrom(paths::kJournalTemporary, journalText)) {
    printSystemError("journal", error);
    fs_.unlink(paths::kJournalTemporary);
    return false;
  }
  // The staged files and the journal reach the disk before the journal
  // names them.
  std::set<uint64_t> flushed;
  FileStatus journal;
  if (fs_.status(paths::kJournalTemporary, &journal) == 0) {
    flushDevice(journal.device, paths::kJournalTemporary, &flushed);
  }
  for (const auto& entry : entries_) {
    uint64_t device;
    if (isMove(entry.second.kind) && sourceDevice(entry.second, &device)) {
      flushDevice(device, entry.second.source, &flushed);
    }
  }
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
    ensureDirectory(directory);
    uint64_t source, parent;
    if (!sourceDevice(entry.second, &source) || !directoryDevice(directory, &parent)) continue;
    if (source == parent) continue;
    // A copy that fails here (a full flash) is tried again when its turn
    // comes, after the removals have freed room.
    std::string copy = copyBeside(target);
    if (fs_.copyFile(entry.second.source, copy, progress_) != 0) {
      fs_.unlink(copy);
      continue;
    }
    copies_.insert(copy);
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
  // The directories made for the copies still stand: a removal that takes
  // anything away forgets them all.
  for (int databasePass = 0; databasePass < 2; ++databasePass) {
    for (const auto& entry : entries_) {
      if (!isMove(entry.second.kind) || isDatabaseTarget(entry.first) != (databasePass == 1)) continue;
      applyMove(entry.first, entry.second.source);
    }
  }
}

void DurableCommit::flushTargets() {
  std::set<uint64_t> flushed;
  uint64_t device;
  std::string directory = journalDirectory();
  if (directoryDevice(directory, &device)) flushDevice(device, directory, &flushed);
  for (const auto& entry : entries_) {
    directory = parentDirectory(entry.first);
    if (directoryDevice(directory, &device)) flushDevice(device, directory, &flushed);
  }
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

void DurableCommit::ensureDirectory(const std::string& directory) {
  if (madeDirectories_.count(directory)) return;
  makeDirectories(fs_, directory);
  madeDirectories_.insert(directory);
}

bool DurableCommit::directoryDevice(const std::string& directory, uint64_t* device) {
  auto known = directoryDevices_.find(directory);
  if (known != directoryDevices_.end()) {
    *device = known->second;
    return true;
  }
  FileStatus status;
  if (fs_.status(directory, &status) != 0) return false;
  directoryDevices_[directory] = status.device;
  *device = status.device;
  return true;
}

bool DurableCommit::sourceDevice(const ChangeAction& action, uint64_t* device) {
  if (action.sourceDeviceKnown) {
    *device = action.sourceDevice;
    return true;
  }
  FileStatus status;
  if (fs_.status(action.source, &status) != 0) return false;
  *device = status.device;
  return true;
}

std::set<std::string> DurableCommit::keptNamesIn(const std::string& directory) const {
  std::set<std::string> names;
  auto keep = [&](const std::string& path) {
    if (path.size() > directory.size() + 1 && path.compare(0, directory.size(), directory) == 0 &&
        path[directory.size()] == '/' && path.find('/', directory.size() + 1) == std::string::npos) {
      names.insert(path.substr(directory.size() + 1));
    }
  };
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind)) continue;
    keep(entry.first);
    keep(entry.second.source);
  }
  return names;
}

void DurableCommit::applyRemoval(const std::string& target) {
  int error = fs_.unlink(target);
  if (error == 0) madeDirectories_.clear();
  if (error != EISDIR) return;
  std::vector<std::string> names;
  if (int listError = fs_.listDirectory(target, &names)) {
    // What could not be listed is not known to be empty of what must stay.
    printSystemError("readdir", listError);
    return;
  }
  std::string directory = target;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  std::set<std::string> kept = keptNamesIn(directory);
  // Hidden entries and subdirectories stay, and with them the directory.
  for (const std::string& name : names) {
    if (!name.empty() && name[0] != '.' && !kept.count(name)) fs_.unlink(directory + "/" + name);
  }
  if (fs_.removeDirectory(target) == 0) madeDirectories_.clear();
}

void DurableCommit::applySymlink(const std::string& target, const std::string& text) {
  ensureDirectory(parentDirectory(target));
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
  ensureDirectory(parentDirectory(target));
  std::string copy = copyBeside(target);
  // A fresh commit knows the copies it made; a resumed one looks.
  if (resumed_ ? fs_.exists(copy) : copies_.count(copy) != 0) {
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
    if (fs_.status(path, &status) == 0) flushDevice(status.device, path, &flushed);
  }
}

void DurableCommit::flushDevice(uint64_t device, const std::string& path, std::set<uint64_t>* flushed) {
  if (!flushed->insert(device).second) return;
  if (int error = fs_.flushFileSystem(path)) printSystemError("syncfs", error);
}

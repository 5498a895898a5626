#include "commit/durable_commit.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "commit/commit_paths.h"
#include "commit/directories.h"
#include "commit/manifest.h"
#include "commit/staging_registry.h"

namespace {

void printSystemError(const char* prefix, int error) {
  fprintf(stderr, "%s: %s\n", prefix, strerror(error));
}

std::string journalDirectory() { return parentDirectory(paths::kJournal); }

bool isDatabaseTarget(const std::string& target) {
  return target.compare(0, strlen(paths::kDatabaseRoot), paths::kDatabaseRoot) == 0;
}

bool isNoSpace(int error) { return error == ENOSPC || error == EDQUOT; }

// The marker lists at most every move of the journal.
const size_t kMaxMarkerBytes = 64u << 20;

}  // namespace

std::string DurableCommit::copyBeside(const std::string& target) { return temporaryBeside(target); }

CommitOutcome DurableCommit::run() {
  if (entries_.empty()) return outcome_;
  CommitPlan plan(fs_, entries_);
  if (!refuseUnlessFits(plan)) return outcome_;
  journaled_ = writeJournal();
  if (outcome_.refused) return outcome_;
  copiesKnown_ = true;
  std::vector<std::string> reuse = plan.reuseOrder();
  if (!copyFirstPhase(plan) || !markApplying(reuse)) {
    dropCopies();
    deleteJournal();
    removeEmptyStagingDirectory(fs_);
    return outcome_;
  }
  applyChanges(reuse);
  removeEmptyStagingDirectory(fs_);
  return outcome_;
}

DurableCommit::Resumed DurableCommit::resume() {
  resumed_ = true;
  journaled_ = true;
  removeStaleReplacement(fs_, paths::kJournalApplying);
  std::string marker;
  if (fs_.readFile(paths::kJournalApplying, kMaxMarkerBytes, &marker) != 0) {
    for (const auto& entry : entries_) {
      if (isMove(entry.second.kind) && !fs_.exists(entry.second.source)) {
        abandon();
        return Resumed::Abandoned;
      }
    }
    // The copies of the first phase are made again from the sources.
    dropCopies();
    CommitPlan plan(fs_, entries_);
    copiesKnown_ = true;
    std::vector<std::string> reuse;
    if (plan.decide([this] { return journalBytes(); }) != CommitPlan::Fit::Fits || !copyFirstPhase(plan) ||
        !markApplying(reuse = plan.reuseOrder())) {
      abandon();
      return Resumed::Abandoned;
    }
    applyChanges(reuse);
  } else {
    ChangeEntries named;
    std::string badLine;
    if (parseManifest(marker, &named, &badLine, true) != ManifestRead::Complete) outcome_.applied = false;
    std::set<std::string> reused;
    for (const auto& entry : named) reused.insert(entry.first);
    applyChanges(CommitPlan::orderForReuse(fs_, entries_, reused));
  }
  return outcome_.applied ? Resumed::Finished : Resumed::Unfinished;
}

bool DurableCommit::refuseUnlessFits(CommitPlan& plan) {
  CommitPlan::Fit fit = plan.decide([this] { return journalBytes(); });
  if (fit == CommitPlan::Fit::Fits) return true;
  if (fit == CommitPlan::Fit::SourceMissing) {
    printSystemError("rename", ENOENT);
    refuse(ENOENT, plan.missingTarget());
  } else {
    refuse(ENOSPC, std::string());
    outcome_.shortfalls = plan.shortfalls();
  }
  return false;
}

void DurableCommit::refuse(int error, const std::string& target) {
  outcome_.applied = false;
  outcome_.refused = true;
  outcome_.error = error;
  outcome_.failedTarget = target;
}

void DurableCommit::fail(const char* call, int error, const std::string& target) {
  printSystemError(call, error);
  if (!outcome_.applied) return;
  outcome_.applied = false;
  outcome_.error = error;
  outcome_.failedTarget = target;
}

uint64_t DurableCommit::journalBytes() const {
  ManifestPieces pieces(entries_, true);
  std::string piece;
  uint64_t bytes = 0;
  while (pieces.next(&piece)) bytes += piece.size();
  return bytes;
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
    // Without room for its journal the commit could not be finished after
    // a cut: it is not started.
    if (isNoSpace(error)) refuse(error, paths::kJournal);
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

bool DurableCommit::copyFirstPhase(const CommitPlan& plan) {
  std::vector<std::string> copies;
  for (const auto& entry : entries_) {
    const std::string& target = entry.first;
    if (!isMove(entry.second.kind) || !plan.crosses(target) || plan.reuses(target)) continue;
    ensureDirectory(parentDirectory(target));
    std::string copy = copyBeside(target);
    if (int error = fs_.copyFile(entry.second.source, copy, progress_)) {
      // The plan counted blocks; the file system may need more. Nothing
      // has changed yet, so the commit is not started rather than risked.
      fs_.unlink(copy);
      printSystemError("copy", error);
      refuse(error, target);
      return false;
    }
    copies_.insert(copy);
    copies.push_back(copy);
  }
  flushDevicesOf(copies);
  return true;
}

void DurableCommit::applyChanges(const std::vector<std::string>& reuse) {
  applyRemovalsAndLinks();
  std::set<std::string> reused(reuse.begin(), reuse.end());
  applyFileMoves(reused);
  bool complete = reuseSpace(reuse) && outcome_.applied;
  if (complete && !reuse.empty()) {
    flushTargets();
    if (journaled_) replaceFile(fs_, paths::kJournalApplying, std::string());
  }
  if (complete) {
    applyDatabaseMoves();
  } else {
    dropDatabaseCopies();
  }
  flushTargets();
  deleteJournal();
}

bool DurableCommit::markApplying(const std::vector<std::string>& reuse) {
  if (!journaled_) return true;
  if (reuse.empty()) {
    fs_.writeFile(paths::kJournalApplying, std::string());
    fs_.flushFile(journalDirectory());
    return true;
  }
  ChangeEntries named;
  for (const std::string& target : reuse) named.put(target, entries_.at(target));
  ManifestPieces pieces(named, true);
  std::string text, piece;
  while (pieces.next(&piece)) text += piece;
  // Replaced whole, never seen half written: a list cut short would hide
  // a file whose old copy is about to go.
  int error = replaceFile(fs_, paths::kJournalApplying, text);
  if (error == 0) return true;
  printSystemError("journal", error);
  refuse(error, paths::kJournalApplying);
  return false;
}

void DurableCommit::applyRemovalsAndLinks() {
  for (const auto& entry : entries_) {
    if (entry.second.kind == ChangeKind::Remove) applyRemoval(entry.first);
    if (entry.second.kind == ChangeKind::Symlink) applySymlink(entry.first, entry.second.source);
  }
}

void DurableCommit::applyFileMoves(const std::set<std::string>& reused) {
  // The directories made for the copies still stand: a removal that takes
  // anything away forgets them all.
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind) || isDatabaseTarget(entry.first) || reused.count(entry.first)) continue;
    applyMove(entry.first, entry.second.source);
  }
}

void DurableCommit::applyDatabaseMoves() {
  for (const auto& entry : entries_) {
    if (isMove(entry.second.kind) && isDatabaseTarget(entry.first)) applyMove(entry.first, entry.second.source);
  }
}

bool DurableCommit::reuseSpace(const std::vector<std::string>& order) {
  bool complete = true;
  for (const std::string& target : order) {
    const ChangeAction& action = entries_.at(target);
    std::string copy = copyBeside(target);
    // A copy a cut left here may be partial: it is made again.
    if (resumed_ && fs_.exists(copy)) fs_.unlink(copy);
    if (resumed_ && !fs_.exists(action.source)) {
      complete = false;  // lost with volatile memory
      continue;
    }
    ensureDirectory(parentDirectory(target));
    if (!replaceByCopy(action.source, target)) complete = false;
  }
  return complete;
}

bool DurableCommit::replaceByCopy(const std::string& source, const std::string& target) {
  int error = fs_.unlink(target);
  if (error != 0 && error != ENOENT) {
    fail("unlink", error, target);
    return false;
  }
  std::string copy = copyBeside(target);
  const char* call = "copy";
  error = fs_.copyFile(source, copy, progress_);
  if (error == 0 && (error = fs_.flushFile(copy)) != 0) call = "fsync";
  if (error == 0 && (error = fs_.rename(copy, target)) != 0) call = "rename";
  if (error == 0) return true;
  fs_.unlink(copy);
  fail(call, error, target);
  return false;
}

void DurableCommit::dropDatabaseCopies() {
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind) || !isDatabaseTarget(entry.first)) continue;
    std::string copy = copyBeside(entry.first);
    if (copiesKnown_ ? copies_.count(copy) != 0 : fs_.exists(copy)) fs_.unlink(copy);
  }
}

void DurableCommit::dropCopies() {
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind)) continue;
    std::string copy = copyBeside(entry.first);
    if (copiesKnown_ ? copies_.count(copy) != 0 : fs_.exists(copy)) fs_.unlink(copy);
  }
  copies_.clear();
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
  copiesKnown_ = false;
  dropCopies();
  // Only the journal leads the next run to these copies: they must be gone
  // for good before it is.
  flushTargets();
  deleteJournal();
}

void removeEmptyStagingDirectory(FileSystem& fs) {
  if (fs.exists(paths::kStagingDir)) fs.removeDirectory(paths::kStagingDir);
  removeEmptyRegisteredDirectories(fs);
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
  if (error == ENOENT) return;
  if (error != EISDIR) {
    if (error != 0) fail("unlink", error, target);
    return;
  }
  std::vector<std::string> names;
  if (int listError = fs_.listDirectory(target, &names)) {
    // What could not be listed is not known to be empty of what must stay.
    fail("readdir", listError, target);
    return;
  }
  std::string directory = target;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  std::set<std::string> kept = keptNamesIn(directory);
  // Hidden entries and subdirectories stay, and with them the directory.
  for (const std::string& name : names) {
    if (name.empty() || name[0] == '.' || kept.count(name)) continue;
    int childError = fs_.unlink(directory + "/" + name);
    if (childError != 0 && childError != ENOENT && childError != EISDIR) {
      fail("unlink", childError, directory + "/" + name);
    }
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
    fail("symlink", error, target);
  }
}

void DurableCommit::applyMove(const std::string& target, const std::string& source) {
  ensureDirectory(parentDirectory(target));
  std::string copy = copyBeside(target);
  // A fresh commit knows the copies it made; a resumed one looks.
  if (copiesKnown_ ? copies_.count(copy) != 0 : fs_.exists(copy)) {
    if (int error = fs_.rename(copy, target)) fail("rename", error, target);
    return;
  }
  int error = fs_.rename(source, target);
  if (error == 0) return;
  // Moved, or copied and renamed, before the interruption.
  if (resumed_ && (error == ENOENT || (error == EXDEV && fs_.exists(target)))) return;
  fail("rename", error, target);
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

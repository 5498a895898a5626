#include "commit/change_set.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include "commit/commit_paths.h"
#include "commit/durable_commit.h"
#include "commit/manifest.h"
#include "console/console.h"

namespace {

// A manifest names two paths per line; no real one comes near.
const size_t kMaxManifestBytes = 64u << 20;
const char kManifestWriteError[] = "could not write %s: %s";
const char kManifestPathError[] = "could not write %s: the path \"%s\" cannot be carried by it";
const char kManifestRefusedLine[] = "refused manifest line \"%s\"";


}  // namespace

std::string chooseStagingDirectory(FileSystem& fs, const std::string& target, uint64_t sizeHint) {
  return StagingPlaces(fs).choose(target, sizeHint);
}

void ChangeSet::releaseSource(const ChangeAction& action) {
  if (action.kind == ChangeKind::MoveStaged) fs_.unlink(action.source);
}

void ChangeSet::put(const std::string& target, const ChangeAction& action) {
  ChangeAction replaced;
  // The same staged file recorded again must not be deleted.
  if (entries_.put(target, action, &replaced) && replaced.source != action.source) releaseSource(replaced);
}

void ChangeSet::addMove(const std::string& source, const std::string& target) {
  put(target, ChangeAction{ChangeKind::Move, source});
}

void ChangeSet::addSymlink(const std::string& linkText, const std::string& target) {
  put(target, ChangeAction{ChangeKind::Symlink, linkText});
}

void ChangeSet::addRemoval(const std::string& target) {
  if (fs_.exists(target)) {
    put(target, ChangeAction{ChangeKind::Remove, std::string()});
  } else {
    erase(target);
  }
}

int ChangeSet::createStaged(const std::string& target, uint64_t sizeHint, unsigned mode, int* fd) {
  StagingPlaces::Place place = places_.place(target, sizeHint);
  std::string path;
  int error = fs_.openTemporaryFile(place.directory, mode, &path, fd);
  if (error != 0) {
    // Recorded all the same, so that the commit names the failure too.
    put(target, ChangeAction{ChangeKind::MoveStaged, place.directory + "/tmpXXXXXX"});
    return error;
  }
  put(target, ChangeAction{ChangeKind::MoveStaged, path, place.deviceKnown, place.device});
  return 0;
}

std::ofstream& ChangeSet::openStagedFile(std::ofstream& stream, const std::string& target,
                                         uint64_t sizeHint, unsigned mode) {
  if (stream.is_open()) stream.close();
  stream.clear();
  int fd = -1;
  int error = createStaged(target, sizeHint, mode, &fd);
  if (error != 0) {
    stream.setstate(std::ios::failbit);
    errno = error;
    return stream;
  }
  if (fd >= 0) close(fd);
  stream.open(find(target)->source, std::ios::out | std::ios::trunc | std::ios::binary);
  return stream;
}

void ChangeSet::openStagedFile(StagedFile& file, const std::string& target, uint64_t sizeHint,
                               unsigned mode) {
  int fd = -1;
  int error = createStaged(target, sizeHint, mode, &fd);
  file.adopt(fd);
  if (error != 0) errno = error;
}

bool ChangeSet::restageInRam(const std::string& target, StagedFile& file) {
  ChangeAction staged;
  if (!entries_.lookup(target, &staged) || staged.kind != ChangeKind::MoveStaged) return false;
  const std::string& old = staged.source;
  std::string ram = paths::kRamDir;
  std::string tmp = paths::kTmpDir;
  if (old.compare(0, ram.size() + 1, ram + "/") == 0 || old.compare(0, tmp.size() + 1, tmp + "/") == 0) {
    errno = ENOSPC;
    return false;
  }
  file.close();
  places_.markFull(parentDirectory(old));
  std::string path;
  int error = fs_.createTemporaryFile(paths::kRamDir, &path);
  if (error == 0) error = fs_.copyFile(old, path, false);
  int fd = error == 0 ? open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC) : -1;
  if (error == 0 && fd < 0) error = errno;
  if (error != 0) {
    if (!path.empty()) fs_.unlink(path);
    errno = error;
    return false;
  }
  fs_.unlink(old);
  FileStatus ramStatus;
  bool known = fs_.status(paths::kRamDir, &ramStatus) == 0;
  entries_.put(target, ChangeAction{ChangeKind::MoveStaged, path, known, known ? ramStatus.device : 0});
  file.adopt(fd);
  return true;
}

const ChangeAction* ChangeSet::find(const std::string& target) const {
  return entries_.lookup(target, &found_) ? &found_ : nullptr;
}

void ChangeSet::erase(const std::string& target) {
  ChangeAction dropped;
  if (!entries_.lookup(target, &dropped)) return;
  releaseSource(dropped);
  entries_.erase(target);
}

CommitOutcome ChangeSet::commit(bool progress) {
  CommitOutcome outcome = DurableCommit(fs_, entries_, progress).run();
  if (outcome.refused) cancel();
  places_.forget();
  return outcome;
}

void ChangeSet::cancel() {
  for (const auto& entry : entries_) releaseSource(entry.second);
  entries_.clear();
  removeEmptyStagingDirectory(fs_);
  places_.forget();
}

bool ChangeSet::writeManifest(const std::string& path) {
  for (const auto& entry : entries_) {
    if (const std::string* bad = uncarriablePath(entry.first, entry.second)) {
      Console::active().printError(kManifestPathError, path.c_str(), bad->c_str());
      cancel();
      return false;
    }
  }
  // A partial manifest must never be committed by a later run.
  int error = replaceFile(fs_, path, manifestText(entries_));
  if (error == 0) return true;
  Console::active().printError(kManifestWriteError, path.c_str(), strerror(error));
  cancel();
  return false;
}

bool ChangeSet::readManifest(const std::string& path) {
  std::string text, badLine;
  int error = fs_.readFile(path, kMaxManifestBytes, &text);
  if (error == ENOENT || error == ENOTDIR || error == EINVAL || error == EFBIG || error == EACCES) {
    return false;
  }
  ChangeEntries read;
  ManifestRead result = parseManifest(text, &read, &badLine);
  std::string().swap(text);
  for (const auto& entry : read) put(entry.first, entry.second);
  if (error != 0) return !entries_.empty();
  if (result == ManifestRead::Refused) {
    Console::active().printError(kManifestRefusedLine, badLine.c_str());
  }
  return result == ManifestRead::Complete;
}

#include "commit/change_set.h"

#include <errno.h>
#include <limits.h>
#include <string.h>

#include "commit/commit_paths.h"
#include "commit/durable_commit.h"
#include "commit/manifest.h"
#include "console/console.h"

namespace {

// Room a staged file must leave on its file system beyond its own size.
const uint64_t kStagingReserve = 65536;
// A manifest names two paths per line; no real one comes near.
const size_t kMaxManifestBytes = 64u << 20;
const char kManifestWriteError[] = "could not write %s: %s";
const char kManifestPathError[] = "could not write %s: the path \"%s\" cannot be carried by it";
const char kManifestRefusedLine[] = "refused manifest line \"%s\"";

uint64_t saturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

uint64_t freeBytes(const FileSystemStats& stats) {
  if (stats.blockSize != 0 && stats.freeBlocks > UINT64_MAX / stats.blockSize) return UINT64_MAX;
  return stats.freeBlocks * stats.blockSize;
}

bool isBelowFlash(const std::string& directory) {
  static const std::string flash = "/flash";
  return directory.compare(0, flash.size(), flash) == 0 &&
         (directory.size() == flash.size() || directory[flash.size()] == '/');
}

}  // namespace

std::string chooseStagingDirectory(FileSystem& fs, const std::string& target, uint64_t sizeHint) {
  // A size of 0 says nothing about the room needed: such a file goes to
  // "/ram" (or "/tmp" on a system without it), never next to its target.
  if (sizeHint == 0) {
    FileStatus ram;
    if (fs.status(paths::kRamDir, &ram) == 0 && ram.isDirectory) return paths::kRamDir;
    return paths::kTmpDir;
  }
  uint64_t needed = saturatingAdd(sizeHint, kStagingReserve);
  // One string shortened in place: the walk costs the path's length once.
  std::string directory = parentDirectory(target);
  for (;;) {
    FileSystemStats stats;
    // The system refuses longer paths anyway; asking costs time only.
    if (directory.size() < PATH_MAX && fs.fileSystemStats(directory, &stats) == 0) {
      if (freeBytes(stats) > needed) return directory;
      break;
    }
    if (directory == "/" || directory == ".") break;
    becomeParentDirectory(directory);
  }
  return paths::kRamDir;
}

void ChangeSet::releaseSource(const ChangeAction& action) {
  if (action.kind == ChangeKind::MoveStaged) fs_.unlink(action.source);
}

void ChangeSet::put(const std::string& target, const ChangeAction& action) {
  auto found = entries_.find(target);
  if (found == entries_.end()) {
    entries_.emplace(target, action);
    return;
  }
  // The same staged file recorded again must not be deleted.
  if (found->second.source != action.source) releaseSource(found->second);
  found->second = action;
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

std::string ChangeSet::stagingDirectory(const std::string& target, uint64_t sizeHint) {
  std::string directory = chooseStagingDirectory(fs_, target, sizeHint);
  if (!isBelowFlash(directory)) return directory;
  // On the database's file system every staged file waits in one hidden
  // directory, where the next run finds what a cut run left.
  FileStatus chosen, database;
  if (fs_.status(directory, &chosen) != 0 || fs_.status(paths::kDatabaseRoot, &database) != 0 ||
      !chosen.isDirectory || chosen.device != database.device) {
    return directory;
  }
  int error = fs_.makeDirectory(paths::kStagingDir, 0700);
  return error == 0 || error == EEXIST ? paths::kStagingDir : directory;
}

std::ofstream& ChangeSet::openStagedFile(std::ofstream& stream, const std::string& target,
                                         uint64_t sizeHint, unsigned mode) {
  if (stream.is_open()) stream.close();
  stream.clear();
  std::string directory = stagingDirectory(target, sizeHint);
  std::string path;
  int error = fs_.createTemporaryFile(directory, &path);
  if (error != 0) {
    // Recorded all the same, so that the commit names the failure too.
    put(target, ChangeAction{ChangeKind::MoveStaged, directory + "/tmpXXXXXX"});
    stream.setstate(std::ios::failbit);
    errno = error;
    return stream;
  }
  if (mode != 0) fs_.changeMode(path, mode);
  put(target, ChangeAction{ChangeKind::MoveStaged, path});
  stream.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
  return stream;
}

const ChangeAction* ChangeSet::find(const std::string& target) const {
  auto found = entries_.find(target);
  return found == entries_.end() ? nullptr : &found->second;
}

void ChangeSet::erase(const std::string& target) {
  auto found = entries_.find(target);
  if (found == entries_.end()) return;
  releaseSource(found->second);
  entries_.erase(found);
}

void ChangeSet::commit(bool progress) { DurableCommit(fs_, entries_, progress).run(); }

void ChangeSet::cancel() {
  for (const auto& entry : entries_) releaseSource(entry.second);
  entries_.clear();
  removeEmptyStagingDirectory(fs_);
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
  for (const auto& entry : read) put(entry.first, entry.second);
  if (error != 0) return !entries_.empty();
  if (result == ManifestRead::Refused) {
    Console::active().printError(kManifestRefusedLine, badLine.c_str());
  }
  return result == ManifestRead::Complete;
}

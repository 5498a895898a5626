#include "commit/staging_places.h"

#include <errno.h>
#include <limits.h>

#include <vector>

#include "commit/commit_paths.h"
#include "commit/directories.h"
#include "commit/staging_registry.h"

namespace {

// Room a staged file must leave on its file system beyond its own size.
const uint64_t kStagingReserve = 65536;
// What a file may take beyond its size on any file system the installer
// meets: its last block, and one block of the file system's own records.
const uint64_t kChargedSlack = 2 * 65536;
// Missing directories above a parent that are remembered with its answer.
const size_t kRememberedLevels = 16;

uint64_t saturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

uint64_t freeBytes(const FileSystemStats& stats) {
  uint64_t blocks = writableBlocks(stats);
  if (stats.blockSize != 0 && blocks > UINT64_MAX / stats.blockSize) return UINT64_MAX;
  return blocks * stats.blockSize;
}

bool isBelowFlash(const std::string& directory) {
  static const std::string flash = "/flash";
  return directory.compare(0, flash.size(), flash) == 0 &&
         (directory.size() == flash.size() || directory[flash.size()] == '/');
}

}  // namespace

bool StagingPlaces::ask(const std::string& directory, Space* space) {
  FileSystemStats stats;
  // The system refuses longer paths anyway; asking costs time only.
  if (directory.size() >= PATH_MAX || fs_.fileSystemStats(directory, &stats) != 0) return false;
  space->freeBytes = freeBytes(stats);
  space->chargedBefore = charged_;
  return true;
}

std::string StagingPlaces::answeringDirectory(const std::string& parent, Space** space) {
  auto known = answering_.find(parent);
  if (known != answering_.end()) {
    *space = known->second.empty() ? nullptr : &spaces_[known->second];
    return known->second;
  }
  // One string shortened in place: the walk costs the path's length once.
  // The missing directories nearest the parent get the same answer, so
  // that their other subdirectories need not ask again; a few levels are
  // enough for real trees, and keep a deep path from filling memory.
  std::string directory = parent;
  std::string found;
  std::vector<std::string> missing;
  for (;;) {
    auto asked = spaces_.find(directory);
    if (asked != spaces_.end()) {
      found = directory;
      break;
    }
    auto known = answering_.find(directory);
    if (known != answering_.end()) {
      found = known->second;
      break;
    }
    Space fresh;
    if (ask(directory, &fresh)) {
      spaces_[directory] = fresh;
      found = directory;
      break;
    }
    if (missing.size() < kRememberedLevels) missing.push_back(directory);
    if (directory == "/" || directory == ".") break;
    becomeParentDirectory(directory);
  }
  for (const std::string& passed : missing) answering_[passed] = found;
  answering_[parent] = found;
  *space = found.empty() ? nullptr : &spaces_[found];
  return found;
}

uint64_t StagingPlaces::uncharged(const Space& space) const {
  uint64_t since = charged_ - space.chargedBefore;
  return space.freeBytes > since ? space.freeBytes - since : 0;
}

bool StagingPlaces::hasRoom(const std::string& directory, Space* space, uint64_t needed) {
  if (!fullDevices_.empty() && fullDevices_.count(directoryStatus(directory).device)) return false;
  if (uncharged(*space) > needed) return true;
  return ask(directory, space) && space->freeBytes > needed;
}

std::string StagingPlaces::decide(const std::string& target, uint64_t sizeHint, Space** space) {
  *space = nullptr;
  // A size of 0 says nothing about the room needed: such a file goes to
  // "/ram" (or "/tmp" on a system without it), never next to its target.
  if (sizeHint == 0) {
    return directoryStatus(paths::kRamDir).isDirectory ? paths::kRamDir : paths::kTmpDir;
  }
  std::string directory = answeringDirectory(parentDirectory(target), space);
  if (*space != nullptr && hasRoom(directory, *space, saturatingAdd(sizeHint, kStagingReserve))) {
    return directory;
  }
  *space = nullptr;
  return paths::kRamDir;
}

std::string StagingPlaces::choose(const std::string& target, uint64_t sizeHint) {
  Space* space = nullptr;
  std::string directory = decide(target, sizeHint, &space);
  if (sizeHint != 0) charged_ = saturatingAdd(charged_, saturatingAdd(sizeHint, kChargedSlack));
  return directory;
}

bool StagingPlaces::wouldExhaust(const std::string& target, uint64_t size, uint64_t reserve) {
  Space* space = nullptr;
  std::string directory = decide(target, size, &space);
  if (space == nullptr) directory = answeringDirectory(directory, &space);
  if (space == nullptr) return false;
  uint64_t needed = saturatingAdd(size, reserve);
  if (uncharged(*space) >= needed) return false;
  // The count errs on the safe side: only the system's own figure refuses.
  return ask(directory, space) && space->freeBytes < needed;
}

const StagingPlaces::Directory& StagingPlaces::directoryStatus(const std::string& path) {
  auto known = directories_.find(path);
  if (known != directories_.end()) return known->second;
  Directory& directory = directories_[path];
  FileStatus status;
  if (fs_.status(path, &status) == 0) {
    directory.exists = true;
    directory.isDirectory = status.isDirectory;
    directory.device = status.device;
  }
  return directory;
}

StagingPlaces::Place StagingPlaces::place(const std::string& target, uint64_t sizeHint) {
  Place place;
  place.directory = choose(target, sizeHint);
  const Directory& chosen = directoryStatus(place.directory);
  place.deviceKnown = chosen.exists;
  place.device = chosen.device;
  if (!isBelowFlash(place.directory)) return place;
  // Below "/flash" every staged file waits in a hidden directory of its
  // file system, where the next run finds what a cut run left.
  const Directory& database = directoryStatus(paths::kDatabaseRoot);
  if (!chosen.exists || !database.exists || !chosen.isDirectory) return place;
  if (chosen.device != database.device) return otherStagingPlace(place, chosen.device);
  if (!stagingDirMade_) {
    int error = fs_.makeDirectory(paths::kStagingDir, 0700);
    if (error != 0 && error != EEXIST) return place;
    stagingDirMade_ = true;
  }
  place.directory = paths::kStagingDir;
  return place;
}

StagingPlaces::Place StagingPlaces::otherStagingPlace(const Place& chosen, uint64_t device) {
  auto made = otherStaging_.find(device);
  if (made == otherStaging_.end()) {
    // The topmost directory below "/flash" on the same file system.
    std::string top = chosen.directory;
    std::string parent = parentDirectory(top);
    while (parent != "/flash" && isBelowFlash(parent) && directoryStatus(parent).device == device) {
      top = parent;
      parent = parentDirectory(top);
    }
    std::string staging = stagingDirectoryOf(top);
    int error = fs_.makeDirectory(staging, 0700);
    // Listed before anything is staged there: the next run must know it.
    if ((error != 0 && error != EEXIST) || registerStagingDirectory(fs_, staging) != 0) staging.clear();
    made = otherStaging_.emplace(device, staging).first;
  }
  if (made->second.empty()) return chosen;
  Place place = chosen;
  place.directory = made->second;
  return place;
}

void StagingPlaces::markFull(const std::string& directory) {
  const Directory& full = directoryStatus(directory);
  if (full.exists) fullDevices_.insert(full.device);
}

void StagingPlaces::forget() {
  answering_.clear();
  spaces_.clear();
  directories_.clear();
  charged_ = 0;
  stagingDirMade_ = false;
  otherStaging_.clear();
  fullDevices_.clear();
}

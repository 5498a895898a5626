#include "driver/disk_space.h"

#include <limits>

#include "pdb/paths.h"

namespace {

// Kept back when a file system gets fuller, for what the estimate misses.
const int64_t kFullerReserve = 32768;
const int64_t kInt64Max = std::numeric_limits<int64_t>::max();

int64_t toSigned(uint64_t value) {
  return value > static_cast<uint64_t>(kInt64Max) ? kInt64Max : static_cast<int64_t>(value);
}

}  // namespace

FsSpace::FsSpace(FileSystem& fs, const std::string& path) : mountPath(path), fs_(fs) {
  FileSystemStats stats;
  if (fs_.fileSystemStats(mountPath, &stats) != 0 || stats.blockSize == 0) return;
  blockSize = toSigned(stats.blockSize);
  freeBlocks = initialFreeBlocks = toSigned(stats.freeBlocks);
}

bool FsSpace::covers(const std::string& path) const {
  return path.compare(0, mountPath.size() + 1, mountPath + "/") == 0;
}

int64_t FsSpace::blocksOf(uint64_t size) const {
  int64_t bytes = toSigned(size);
  return bytes / blockSize + (bytes % blockSize != 0 ? 1 : 0);
}

void FsSpace::creditRemoval(const std::string& target) {
  FileStatus status;
  if (covers(target) && fs_.status(target, &status) == 0) freeBlocks += blocksOf(status.size);
}

bool FsSpace::nearestDevice(const std::string& target, uint64_t* device) {
  std::string parent = parentDirectory(target);
  auto known = nearest_.find(parent);
  if (known == nearest_.end()) {
    Nearest answer;
    std::string directory = parent;
    FileStatus status;
    for (;;) {
      if (fs_.status(directory, &status) == 0) {
        answer.found = true;
        answer.device = status.device;
        break;
      }
      if (directory == "/" || directory == ".") break;
      directory = parentDirectory(directory);
    }
    known = nearest_.emplace(parent, answer).first;
  }
  *device = known->second.device;
  return known->second.found;
}

void FsSpace::chargeMove(const std::string& source, const std::string& target) {
  if (!covers(target)) return;
  FileStatus status;
  if (fs_.status(source, &status) == 0) {
    uint64_t device = 0;
    if (nearestDevice(target, &device) && device == status.device) return;
    freeBlocks -= blocksOf(status.size);
  }
  creditRemoval(target);
}

void FsSpace::chargeMove(const ChangeAction& action, const std::string& target) {
  if (!covers(target)) return;
  uint64_t device = 0;
  if (action.sourceDeviceKnown && nearestDevice(target, &device) && device == action.sourceDevice) return;
  chargeMove(action.source, target);
}

int64_t FsSpace::margin() const {
  int64_t bytes = 0;
  if (__builtin_mul_overflow(freeBlocks, blockSize, &bytes)) return freeBlocks < 0 ? -kInt64Max : kInt64Max;
  return freeBlocks < initialFreeBlocks ? bytes - kFullerReserve : bytes;
}

bool checkDiskSpace(const ChangeSet& changes, int64_t* kernelMargin, int64_t* flashMargin,
                    FileSystem& fs) {
  FsSpace kernel(fs, paths::kFlashBoot);
  FsSpace flash(fs, paths::kFlashRoot);
  for (const auto& entry : changes) {
    const std::string& target = entry.first;
    const ChangeAction& action = entry.second;
    if (action.kind == ChangeKind::Remove) {
      kernel.creditRemoval(target);
      flash.creditRemoval(target);
    } else if (action.kind == ChangeKind::Move || action.kind == ChangeKind::MoveStaged) {
      kernel.chargeMove(action, target);
      flash.chargeMove(action, target);
    }
  }
  *kernelMargin = kernel.margin();
  *flashMargin = flash.margin();
  return *kernelMargin >= 0 && *flashMargin >= 0;
}

int64_t kilobytesToFree(int64_t margin) { return -(margin / 1024) + 1; }

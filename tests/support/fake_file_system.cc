#include "support/fake_file_system.h"

#include <errno.h>

void FakeFileSystem::scriptStats(const std::string& path, uint64_t blockSize, uint64_t freeBlocks) {
  FileSystemStats stats;
  stats.blockSize = blockSize;
  stats.freeBlocks = freeBlocks;
  stats_[path] = stats;
  missing_.erase(path);
}

void FakeFileSystem::scriptStatus(const std::string& path, uint64_t size, uint64_t device,
                                  bool isDirectory) {
  FileStatus status;
  status.size = size;
  status.device = device;
  status.linkCount = 1;
  status.isDirectory = isDirectory;
  status.isRegularFile = !isDirectory;
  statuses_[path] = status;
  missing_.erase(path);
}

void FakeFileSystem::scriptMissing(const std::string& path) {
  stats_.erase(path);
  statuses_.erase(path);
  missing_.insert(path);
}

void FakeFileSystem::scriptDirectory(const std::string& path, const std::vector<std::string>& names) {
  directories_[path] = names;
}

void FakeFileSystem::scriptError(const std::string& operation, const std::string& path, int error) {
  errors_[operation + " " + path] = error;
}

int FakeFileSystem::scriptedError(const std::string& operation, const std::string& path) const {
  auto found = errors_.find(operation + " " + path);
  return found == errors_.end() ? 0 : found->second;
}

int FakeFileSystem::record(const std::string& operation, const std::string& path,
                           const std::string& detail) {
  log.push_back(operation + " " + path + (detail.empty() ? "" : " " + detail));
  return scriptedError(operation, path);
}

int FakeFileSystem::fileSystemStats(const std::string& path, FileSystemStats* stats) {
  auto found = stats_.find(path);
  if (found != stats_.end()) {
    *stats = found->second;
    return 0;
  }
  if (missing_.count(path) || !base_) return ENOENT;
  return base_->fileSystemStats(path, stats);
}

int FakeFileSystem::status(const std::string& path, FileStatus* status) {
  auto found = statuses_.find(path);
  if (found != statuses_.end()) {
    *status = found->second;
    return 0;
  }
  if (missing_.count(path) || !base_) return ENOENT;
  return base_->status(path, status);
}

bool FakeFileSystem::exists(const std::string& path) {
  if (statuses_.count(path)) return true;
  if (missing_.count(path) || !base_) return false;
  return base_->exists(path);
}

int FakeFileSystem::rename(const std::string& source, const std::string& target) {
  if (int error = record("rename", target, "from " + source)) return error;
  return base_ ? base_->rename(source, target) : 0;
}

int FakeFileSystem::unlink(const std::string& path) {
  if (int error = record("unlink", path, "")) return error;
  return base_ ? base_->unlink(path) : 0;
}

int FakeFileSystem::removeDirectory(const std::string& path) {
  if (int error = record("rmdir", path, "")) return error;
  return base_ ? base_->removeDirectory(path) : 0;
}

int FakeFileSystem::makeDirectory(const std::string& path, unsigned mode) {
  if (int error = record("mkdir", path, "")) return error;
  return base_ ? base_->makeDirectory(path, mode) : 0;
}

int FakeFileSystem::symlink(const std::string& text, const std::string& path) {
  if (int error = record("symlink", path, "to " + text)) return error;
  return base_ ? base_->symlink(text, path) : 0;
}

int FakeFileSystem::changeMode(const std::string& path, unsigned mode) {
  if (int error = record("chmod", path, std::to_string(mode))) return error;
  return base_ ? base_->changeMode(path, mode) : 0;
}

int FakeFileSystem::listDirectory(const std::string& path, std::vector<std::string>* names) {
  const int error = record("list", path, "");
  auto found = directories_.find(path);
  // A scripted listing with a scripted error is a read that failed part
  // way: the names read so far come with the error.
  if (found != directories_.end()) {
    names->insert(names->end(), found->second.begin(), found->second.end());
    return error;
  }
  if (error != 0) return error;
  return base_ ? base_->listDirectory(path, names) : ENOENT;
}

int FakeFileSystem::createTemporaryFile(const std::string& directory, std::string* path) {
  if (int error = record("mkstemp", directory, "")) return error;
  if (base_) return base_->createTemporaryFile(directory, path);
  *path = directory + "/tmp" + std::to_string(++temporaryCount_);
  return 0;
}

int FakeFileSystem::flushFileSystem(const std::string& path) {
  if (int error = record("syncfs", path, "")) return error;
  return base_ ? base_->flushFileSystem(path) : 0;
}

int FakeFileSystem::copyFile(const std::string& source, const std::string& target, bool spinner) {
  if (int error = record("copy", target, "from " + source + (spinner ? " spinning" : ""))) return error;
  return base_ ? base_->copyFile(source, target, spinner) : 0;
}

int FakeFileSystem::writeFile(const std::string& path, const std::string& content) {
  if (int error = record("write", path, "")) return error;
  return base_ ? base_->writeFile(path, content) : 0;
}

int FakeFileSystem::readFile(const std::string& path, size_t limit, std::string* content) {
  if (missing_.count(path) || !base_) return ENOENT;
  return base_->readFile(path, limit, content);
}

int FakeFileSystem::readLink(const std::string& path, std::string* text) {
  if (missing_.count(path) || !base_) return ENOENT;
  return base_->readLink(path, text);
}

int FakeFileSystem::flushFile(const std::string& path) {
  if (int error = record("fsync", path, "")) return error;
  return base_ ? base_->flushFile(path) : 0;
}

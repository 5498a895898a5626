#include "driver/change_set.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <vector>

#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "platform/handles.h"

namespace {

// Room a staged file must leave on its file system beyond its own size.
const uint64_t kStagingReserve = 65536;
// Longer manifest lines cannot be two paths and are refused.
const size_t kMaxManifestLine = 16384;
const char kManifestWriteError[] = "could not write %s: %s";
const char kManifestPathError[] = "could not write %s: the path \"%s\" cannot be carried by it";

bool isMove(ChangeKind kind) { return kind == ChangeKind::Move || kind == ChangeKind::MoveStaged; }

void printSystemError(const char* prefix, int error) {
  fprintf(stderr, "%s: %s\n", prefix, strerror(error));
}

uint64_t saturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

uint64_t freeBytes(const FileSystemStats& stats) {
  if (stats.blockSize != 0 && stats.freeBlocks > UINT64_MAX / stats.blockSize) return UINT64_MAX;
  return stats.freeBlocks * stats.blockSize;
}

// 0 or the error of the first failed write.
int writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return errno;
    if (wrote == 0) return ENOSPC;
    done += static_cast<size_t>(wrote);
  }
  return 0;
}

// A line holds the letter, the target and the source separated by
// blanks, the source running to the end of the line: a target can hold
// neither a blank nor a line feed, a source no line feed.
const std::string* uncarriablePath(const std::string& target, const ChangeAction& action) {
  if (target.find_first_of(" \n") != std::string::npos) return &target;
  if (action.source.find('\n') != std::string::npos) return &action.source;
  return nullptr;
}

std::string manifestLine(const std::string& target, const ChangeAction& action) {
  switch (action.kind) {
    case ChangeKind::Remove:
      return "U " + target + "\n";
    case ChangeKind::Symlink:
      return "L " + target + " " + action.source + "\n";
    case ChangeKind::Move:
    case ChangeKind::MoveStaged:
      break;
  }
  return "M " + target + " " + action.source + "\n";
}

// Reads a file line by line through a fixed buffer; a line grows only with
// the bytes actually read and never beyond kMaxManifestLine.
class LineReader {
 public:
  enum Result { Line, End, ReadError, TooLong };

  explicit LineReader(int fd) : fd_(fd) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line without its line feed; End when the file is used up.
  Result next(std::string* line);

 private:
  bool refill();

  int fd_;
  char buffer_[4096];
  size_t position_ = 0;
  size_t length_ = 0;
  bool atEnd_ = false;
  int error_ = 0;
};

bool LineReader::refill() {
  for (;;) {
    ssize_t got = read(fd_, buffer_, sizeof buffer_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error_ = errno;
    if (got <= 0) atEnd_ = true;
    position_ = 0;
    length_ = got > 0 ? static_cast<size_t>(got) : 0;
    return got > 0;
  }
}

LineReader::Result LineReader::next(std::string* line) {
  line->clear();
  for (;;) {
    if (position_ == length_ && (atEnd_ || !refill())) {
      if (error_ != 0) return ReadError;
      return line->empty() ? End : Line;
    }
    const char* start = buffer_ + position_;
    const char* feed = static_cast<const char*>(memchr(start, '\n', length_ - position_));
    size_t take = feed ? static_cast<size_t>(feed - start) : length_ - position_;
    if (line->size() + take > kMaxManifestLine) return TooLong;
    line->append(start, take);
    position_ += take;
    if (feed) {
      ++position_;
      return Line;
    }
  }
}

// Splits at the first two blanks; the third field runs to the end.
std::vector<std::string> manifestFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() < 2) {
    size_t blank = line.find(' ', start);
    if (blank == std::string::npos) break;
    fields.push_back(line.substr(start, blank - start));
    start = blank + 1;
  }
  fields.push_back(line.substr(start));
  // An empty field carries no path: it counts as missing.
  while (!fields.empty() && fields.back().empty()) fields.pop_back();
  for (const std::string& field : fields) {
    if (field.empty()) return std::vector<std::string>();
  }
  return fields;
}

}  // namespace

std::string parentDirectory(const std::string& path) {
  std::string parent = path;
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  size_t slash = parent.find_last_of('/');
  if (slash == std::string::npos) return ".";
  parent.erase(slash);
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  return parent.empty() ? "/" : parent;
}

void makeDirectories(FileSystem& fs, const std::string& directory) {
  int error = fs.makeDirectory(directory, 0777);
  if (error == 0 || error == EEXIST) return;
  std::string parent = parentDirectory(directory);
  if (parent == directory) return;
  makeDirectories(fs, parent);
  fs.makeDirectory(directory, 0777);
}

std::string chooseStagingDirectory(FileSystem& fs, const std::string& target, uint64_t sizeHint) {
  // A size of 0 says nothing about the room needed: such a file goes to
  // "/ram" (or "/tmp" on a system without it), never next to its target.
  if (sizeHint == 0) {
    FileStatus ram;
    if (fs.status(paths::kRamDir, &ram) == 0 && ram.isDirectory) return paths::kRamDir;
    return paths::kTmpDir;
  }
  uint64_t needed = saturatingAdd(sizeHint, kStagingReserve);
  std::string directory = parentDirectory(target);
  for (;;) {
    FileSystemStats stats;
    if (fs.fileSystemStats(directory, &stats) == 0) {
      if (freeBytes(stats) > needed) return directory;
      break;
    }
    if (directory == "/" || directory == ".") break;
    directory = parentDirectory(directory);
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

std::ofstream& ChangeSet::openStagedFile(std::ofstream& stream, const std::string& target,
                                         uint64_t sizeHint, unsigned mode) {
  if (stream.is_open()) stream.close();
  stream.clear();
  std::string directory = chooseStagingDirectory(fs_, target, sizeHint);
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

void ChangeSet::applyRemoval(const std::string& target, const std::set<std::string>& keep) {
  if (fs_.unlink(target) != EISDIR) return;
  std::vector<std::string> names;
  // A directory that could not be listed to its end is left whole.
  if (int error = fs_.listDirectory(target, &names)) {
    printSystemError("readdir", error);
    return;
  }
  std::string directory = target;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  // Hidden entries and subdirectories stay, and with them the directory.
  for (const std::string& name : names) {
    std::string path = directory + "/" + name;
    if (!name.empty() && name[0] != '.' && !keep.count(path)) fs_.unlink(path);
  }
  fs_.removeDirectory(target);
}

void ChangeSet::applySymlink(const std::string& target, const std::string& text) {
  makeDirectories(fs_, parentDirectory(target));
  fs_.unlink(target);
  if (int error = fs_.symlink(text, target)) printSystemError("symlink", error);
}

void ChangeSet::applyMove(const std::string& target, const std::string& source, bool progress) {
  makeDirectories(fs_, parentDirectory(target));
  int error = fs_.rename(source, target);
  if (error == EXDEV) {
    fs_.copyFile(source, target, progress);
  } else if (error != 0) {
    printSystemError("rename", error);
  }
}

void ChangeSet::flushMoveSources() {
  std::set<uint64_t> flushed;
  for (const auto& entry : entries_) {
    if (!isMove(entry.second.kind)) continue;
    FileStatus source;
    if (fs_.status(entry.second.source, &source) != 0) continue;
    if (!flushed.insert(source.device).second) continue;
    if (int error = fs_.flushFileSystem(entry.second.source)) printSystemError("syncfs", error);
  }
}

std::set<std::string> ChangeSet::moveSources() const {
  std::set<std::string> sources;
  for (const auto& entry : entries_) {
    if (isMove(entry.second.kind)) sources.insert(entry.second.source);
  }
  return sources;
}

void ChangeSet::commit(bool progress) {
  // A staged file sits next to its target, so it may lie in a directory
  // that this same commit empties; it must survive until it is moved.
  std::set<std::string> sources = moveSources();
  for (const auto& entry : entries_) {
    if (entry.second.kind == ChangeKind::Remove) applyRemoval(entry.first, sources);
    if (entry.second.kind == ChangeKind::Symlink) applySymlink(entry.first, entry.second.source);
  }
  flushMoveSources();
  for (const auto& entry : entries_) {
    if (isMove(entry.second.kind)) applyMove(entry.first, entry.second.source, progress);
  }
}

void ChangeSet::cancel() {
  for (const auto& entry : entries_) releaseSource(entry.second);
  entries_.clear();
}

bool ChangeSet::writeManifest(const std::string& path) {
  for (const auto& entry : entries_) {
    if (const std::string* bad = uncarriablePath(entry.first, entry.second)) {
      PackageDb::instance().printError(kManifestPathError, path.c_str(), bad->c_str());
      cancel();
      return false;
    }
  }
  Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  int error = file.get() < 0 ? errno : 0;
  bool created = error == 0;
  for (auto entry = entries_.begin(); error == 0 && entry != entries_.end(); ++entry) {
    error = writeAll(file.get(), manifestLine(entry->first, entry->second));
  }
  if (error == 0) error = file.close();
  if (error == 0) return true;
  // A partial manifest must never be committed by a later run.
  if (created) ::unlink(path.c_str());
  PackageDb::instance().printError(kManifestWriteError, path.c_str(), strerror(error));
  cancel();
  return false;
}

bool ChangeSet::readManifestLine(const std::string& line) {
  std::vector<std::string> fields = manifestFields(line);
  if (fields.size() < 2) return false;
  const std::string& letter = fields[0];
  if (letter == "U") {
    put(fields[1], ChangeAction{ChangeKind::Remove, std::string()});
  } else if (letter == "L" || letter == "M") {
    if (fields.size() < 3) return false;
    put(fields[1], ChangeAction{letter == "L" ? ChangeKind::Symlink : ChangeKind::Move, fields[2]});
  }
  return true;
}

bool ChangeSet::readManifest(const std::string& path) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return false;
  LineReader reader(file.get());
  std::string line;
  for (;;) {
    LineReader::Result result = reader.next(&line);
    if (result == LineReader::ReadError) return !entries_.empty();
    if (result == LineReader::TooLong) return false;
    if (line.empty()) return true;
    if (!readManifestLine(line)) return false;
  }
}

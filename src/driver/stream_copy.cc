#include "driver/stream_copy.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <iterator>
#include <utility>

namespace {

// The parts a package header may carry after its record, in the order the
// header reader takes them; each at most once.
const int kHeaderPartOrder[] = {
    kPartAttribute24,  kPartArchitecture, kPartAttribute2, kPartNote,
    kPartDependencies, kPartProvides,     kPartConflicts,
};

}  // namespace

StreamCopy::StreamCopy(std::string path, uint64_t reserve)
    : path_(std::move(path)), reserve_(reserve) {}

StreamCopy::~StreamCopy() {
  closeFile();
  if (created_) unlink(path_.c_str());
}

bool StreamCopy::create() {
  fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC,
             0644);
  created_ = fd_ >= 0;
  return created_;
}

void StreamCopy::keep() {
  if (fate_ != Fate::kUndecided) return;
  fate_ = Fate::kKept;
  if (held_.size() >= kWriteBlock) writeHeld();
}

void StreamCopy::drop() {
  if (fate_ != Fate::kUndecided) return;
  fate_ = Fate::kDropped;
  std::vector<char>().swap(held_);
}

bool StreamCopy::finish() {
  if (fate_ == Fate::kKept) writeHeld();
  closeFile();
  return !failed_;
}

std::streamsize StreamCopy::xsputn(const char* bytes, std::streamsize n) {
  hold(bytes, static_cast<size_t>(n));
  return n;
}

StreamCopy::int_type StreamCopy::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  char byte = traits_type::to_char_type(c);
  hold(&byte, 1);
  return c;
}

void StreamCopy::hold(const char* bytes, size_t n) {
  if (fate_ == Fate::kDropped || failed_ || n == 0) return;
  size_t limit = fate_ == Fate::kKept ? kWriteBlock : kUndecidedLimit;
  // A large piece goes straight through once what is held is out.
  if (held_.size() + n > limit) writeHeld();
  if (n >= limit) {
    writeAll(bytes, n);
    return;
  }
  held_.insert(held_.end(), bytes, bytes + n);
}

void StreamCopy::writeHeld() {
  if (!held_.empty()) writeAll(held_.data(), held_.size());
  held_.clear();
}

// The copy of an unverified stream must not fill the flash: every MiB it
// checks that its file system keeps the staging reserve, and stops (as when
// the disk is full) when it would not.
bool StreamCopy::roomLeft() {
  struct statfs stats;
  if (fstatfs(fd_, &stats) != 0) return true;
  uint64_t freeBytes = static_cast<uint64_t>(stats.f_bfree) * static_cast<uint64_t>(stats.f_bsize);
  return freeBytes >= reserve_ + kRoomCheckInterval;
}

bool StreamCopy::writeAll(const char* bytes, size_t n) {
  if (fd_ < 0) failed_ = true;
  if (!failed_ && sinceRoomCheck_ + n > kRoomCheckInterval) {
    sinceRoomCheck_ = 0;
    if (!roomLeft()) failed_ = true;
  }
  sinceRoomCheck_ += n;
  while (n > 0 && !failed_) {
    ssize_t wrote = write(fd_, bytes, n);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      failed_ = true;
      break;
    }
    bytes += wrote;
    n -= static_cast<size_t>(wrote);
  }
  return !failed_;
}

void StreamCopy::closeFile() {
  if (fd_ >= 0 && close(fd_) != 0) failed_ = true;
  fd_ = -1;
}

void KeptImageWatch::wantedPartBegun(int type) {
  if (decided_) return;
  if (!headerSeen_) {
    headerSeen_ = type == kPartPackageHeader || type == kPartBundleHeader;
    if (!headerSeen_) decide(false);
    return;
  }
  for (size_t i = nextHeaderPart_; i < std::size(kHeaderPartOrder); ++i) {
    if (kHeaderPartOrder[i] == type) {
      nextHeaderPart_ = i + 1;
      return;
    }
  }
  decide(type == kPartSquashfsImage);
}

void KeptImageWatch::decide(bool keep) {
  decided_ = true;
  if (keep) {
    copy_.keep();
  } else {
    copy_.drop();
  }
}

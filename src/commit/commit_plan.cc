#include "commit/commit_plan.h"

#include <string.h>

#include <algorithm>
#include <limits>

#include "commit/commit_paths.h"
#include "commit/directories.h"

namespace {

// Kept free through the reuse phase, for what block counts miss (a new
// directory, a file system's own records): that phase removes old files,
// so running out there would cost data.
const uint64_t kReuseReserve = 32768;
// The journal's applying marker and the temporary file that replaces it.
const int64_t kMarkerBlocks = 2;
const int64_t kInt64Max = std::numeric_limits<int64_t>::max();

bool isDatabaseTarget(const std::string& target) {
  return target.compare(0, strlen(paths::kDatabaseRoot), paths::kDatabaseRoot) == 0;
}

int64_t toSigned(uint64_t value) {
  return value > static_cast<uint64_t>(kInt64Max) ? kInt64Max : static_cast<int64_t>(value);
}

int64_t growth(uint64_t sourceBytes, uint64_t oldBytes) { return toSigned(sourceBytes) - toSigned(oldBytes); }

// Targets sorted by how much each grows, shrinking ones first; ties keep
// the map order.
std::vector<std::string> byGrowth(const std::map<std::string, int64_t>& growthOf) {
  std::vector<std::string> order;
  for (const auto& entry : growthOf) order.push_back(entry.first);
  std::stable_sort(order.begin(), order.end(), [&](const std::string& a, const std::string& b) {
    return growthOf.at(a) < growthOf.at(b);
  });
  return order;
}

uint64_t regularSize(FileSystem& fs, const std::string& path) {
  FileStatus status;
  if (fs.status(path, &status) != 0 || !status.isRegularFile) return 0;
  return status.size;
}

}  // namespace

CommitPlan::Fit CommitPlan::decide(const std::function<uint64_t()>& journalBytes) {
  if (!classify()) return Fit::SourceMissing;
  if (crossing_.empty()) return Fit::Fits;
  openAccounts(journalBytes);
  chooseFirstPhase();
  if (!reused_.empty()) {
    creditFreedSpace();
    checkReusePhase();
  }
  for (const auto& account : accounts_) {
    if (account.second.missing > 0) {
      Shortfall shortfall;
      shortfall.directory = account.second.directory;
      shortfall.bytes = static_cast<uint64_t>(account.second.missing) *
                        static_cast<uint64_t>(account.second.blockSize);
      shortfalls_.push_back(shortfall);
    }
  }
  return shortfalls_.empty() ? Fit::Fits : Fit::TooSmall;
}

bool CommitPlan::classify() {
  for (const auto& entry : entries_) {
    const ChangeAction& action = entry.second;
    if (!isMove(action.kind)) continue;
    FileStatus source;
    bool sourceKnown = action.sourceDeviceKnown;
    if (!sourceKnown) {
      if (fs_.status(action.source, &source) != 0) {
        missingTarget_ = entry.first;
        return false;
      }
    }
    uint64_t sourceDevice = sourceKnown ? action.sourceDevice : source.device;
    uint64_t targetDevice = 0;
    std::string directory;
    // Without any existing directory above it the move fails on its own.
    if (!nearestDevice(entry.first, &targetDevice, &directory) || targetDevice == sourceDevice) continue;
    if (sourceKnown && fs_.status(action.source, &source) != 0) {
      missingTarget_ = entry.first;
      return false;
    }
    Crossing crossing;
    crossing.device = targetDevice;
    crossing.sourceBytes = source.size;
    crossing.oldBytes = regularSize(fs_, entry.first);
    crossing.database = isDatabaseTarget(entry.first);
    crossing_[entry.first] = crossing;
    if (!accounts_.count(targetDevice)) accounts_[targetDevice].directory = directory;
  }
  return true;
}

bool CommitPlan::nearestDevice(const std::string& target, uint64_t* device, std::string* directory) {
  std::string parent = parentDirectory(target);
  auto known = nearest_.find(parent);
  if (known == nearest_.end()) {
    Nearest answer;
    std::string walk = parent;
    FileStatus status;
    for (;;) {
      if (fs_.status(walk, &status) == 0) {
        answer.found = true;
        answer.device = status.device;
        answer.directory = walk;
        break;
      }
      if (walk == "/" || walk == ".") break;
      becomeParentDirectory(walk);
    }
    known = nearest_.emplace(parent, answer).first;
  }
  *device = known->second.device;
  *directory = known->second.directory;
  return known->second.found;
}

int64_t CommitPlan::blocksOf(uint64_t bytes, const Account& account) const {
  int64_t size = toSigned(bytes);
  return size / account.blockSize + (size % account.blockSize != 0 ? 1 : 0);
}

void CommitPlan::openAccounts(const std::function<uint64_t()>& journalBytes) {
  for (auto& entry : accounts_) {
    Account& account = entry.second;
    FileSystemStats stats;
    if (fs_.fileSystemStats(account.directory, &stats) != 0 || stats.blockSize == 0) continue;
    account.known = true;
    account.blockSize = toSigned(stats.blockSize);
    account.budget = toSigned(writableBlocks(stats));
  }
  FileStatus database;
  if (fs_.status(parentDirectory(paths::kJournal), &database) != 0) return;
  auto journalAccount = accounts_.find(database.device);
  if (journalAccount == accounts_.end() || !journalAccount->second.known) return;
  // The journal, and at most as much again for the marker that lists the
  // reuse phase.
  Account& account = journalAccount->second;
  account.budget -= 2 * blocksOf(journalBytes(), account) + kMarkerBlocks;
}

void CommitPlan::chooseFirstPhase() {
  for (int databasePass = 1; databasePass >= 0; --databasePass) {
    for (const auto& entry : crossing_) {
      const Crossing& crossing = entry.second;
      if (crossing.database != (databasePass == 1)) continue;
      Account& account = accounts_[crossing.device];
      if (!account.known) continue;
      int64_t blocks = blocksOf(crossing.sourceBytes, account);
      if (blocks <= account.budget) {
        account.budget -= blocks;
      } else if (crossing.database) {
        // An entry is put in place only after all its files: it cannot
        // wait for the room they free.
        account.missing += blocks - std::max<int64_t>(account.budget, 0);
        account.budget = std::min<int64_t>(account.budget, 0);
      } else {
        reused_.insert(entry.first);
      }
    }
  }
}

void CommitPlan::credit(const std::string& path) {
  FileStatus status;
  if (fs_.status(path, &status) != 0 || !status.isRegularFile) return;
  auto account = accounts_.find(status.device);
  if (account != accounts_.end()) account->second.freed += blocksOf(status.size, account->second);
}

// What is free when the reuse phase starts: the removals, and the files
// that the renames and the first phase's copies replace.
void CommitPlan::creditFreedSpace() {
  for (const auto& entry : entries_) {
    if (entry.second.kind == ChangeKind::Remove) {
      credit(entry.first);
    } else if (isMove(entry.second.kind) && !reused_.count(entry.first)) {
      credit(entry.first);
    }
  }
}

void CommitPlan::checkReusePhase() {
  std::map<uint64_t, int64_t> room, lowest;
  for (const auto& entry : accounts_) {
    const Account& account = entry.second;
    int64_t reserve = blocksOf(kReuseReserve, account);
    room[entry.first] = account.budget + account.freed - reserve;
    lowest[entry.first] = room[entry.first];
  }
  for (const std::string& target : reuseOrder()) {
    const Crossing& crossing = crossing_.at(target);
    const Account& account = accounts_.at(crossing.device);
    int64_t& now = room[crossing.device];
    now += blocksOf(crossing.oldBytes, account) - blocksOf(crossing.sourceBytes, account);
    lowest[crossing.device] = std::min(lowest[crossing.device], now);
  }
  for (auto& entry : accounts_) {
    if (entry.second.known && lowest[entry.first] < 0) entry.second.missing += -lowest[entry.first];
  }
}

std::vector<std::string> CommitPlan::reuseOrder() const {
  std::map<std::string, int64_t> growthOf;
  for (const std::string& target : reused_) {
    const Crossing& crossing = crossing_.at(target);
    growthOf[target] = growth(crossing.sourceBytes, crossing.oldBytes);
  }
  return byGrowth(growthOf);
}

std::vector<std::string> CommitPlan::orderForReuse(FileSystem& fs, const ChangeEntries& entries,
                                                   const std::set<std::string>& targets) {
  std::map<std::string, int64_t> growthOf;
  for (const std::string& target : targets) {
    auto entry = entries.find(target);
    if (entry == entries.end() || !isMove(entry->second.kind)) continue;
    growthOf[target] = growth(regularSize(fs, entry->second.source), regularSize(fs, target));
  }
  return byGrowth(growthOf);
}

// Where the moves of a commit that cross file systems land, decided before
// anything changes. A move whose source lies on its target's file system
// is one rename and needs no room. A move across file systems is copied
// beside its target, and that copy needs room:
//  - the first phase copies every file that fits beside its target while
//    the old files are still there (database entries first: an entry is
//    small, and without it the files it claims could not be put in place);
//  - the reuse phase takes the rest one at a time, after the commit's
//    removals and renames have freed their space: the old target removed,
//    the new file copied beside it, flushed, renamed. It runs shrinking
//    files first, so that the room never falls below what is left at the
//    end.
// The plan fits when, on every file system, the first phase stays within
// the free blocks (less the journal and a reserve) and the reuse phase
// never needs more than has been freed. Blocks are counted as the
// disk-space check counts them: a file of S bytes takes S rounded up to
// whole blocks.
//
// Owns nothing; `fs` and `entries` must outlive the plan. Only asks the
// system (stat, statfs); nothing is changed.
#ifndef COMMIT_COMMIT_PLAN_H_
#define COMMIT_COMMIT_PLAN_H_

#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "commit/change_action.h"
#include "commit/change_entries.h"
#include "commit/file_system.h"

// The room a commit lacks on one file system: `directory` is an existing
// directory on it (the nearest one above a target).
struct Shortfall {
  std::string directory;
  uint64_t bytes = 0;
};

class CommitPlan {
 public:
  CommitPlan(FileSystem& fs, const ChangeEntries& entries) : fs_(fs), entries_(entries) {}
  CommitPlan(const CommitPlan&) = delete;
  CommitPlan& operator=(const CommitPlan&) = delete;

  enum class Fit { Fits, TooSmall, SourceMissing };
  // Decides both phases. `journalBytes` is asked only when some move
  // crosses file systems: the journal and its marker need room on the
  // database's file system too. TooSmall fills shortfalls(); SourceMissing
  // names the move in missingTarget() (its source cannot be stat'ed).
  Fit decide(const std::function<uint64_t()>& journalBytes);

  // True when `target`'s move crosses file systems (copied, not renamed).
  bool crosses(const std::string& target) const { return crossing_.count(target) != 0; }
  // True when the move of `target` waits for the reuse phase.
  bool reuses(const std::string& target) const { return reused_.count(target) != 0; }
  // The reuse phase's targets in the order they are applied.
  std::vector<std::string> reuseOrder() const;
  // The same order for the given targets, from the files as they are now:
  // what a resumed commit applies.
  static std::vector<std::string> orderForReuse(FileSystem& fs, const ChangeEntries& entries,
                                                const std::set<std::string>& targets);

  const std::vector<Shortfall>& shortfalls() const { return shortfalls_; }
  const std::string& missingTarget() const { return missingTarget_; }

 private:
  struct Crossing {
    uint64_t device = 0;
    uint64_t sourceBytes = 0;
    uint64_t oldBytes = 0;  // of the regular file it replaces, 0 when none
    bool database = false;
  };
  struct Account {
    std::string directory;
    int64_t blockSize = 1;
    int64_t budget = 0;   // free blocks left for the first phase
    int64_t freed = 0;    // blocks freed before the reuse phase
    int64_t missing = 0;  // blocks the plan lacks
    bool known = false;   // statfs answered: without it nothing is counted
  };

  bool classify();
  bool nearestDevice(const std::string& target, uint64_t* device, std::string* directory);
  void openAccounts(const std::function<uint64_t()>& journalBytes);
  void chooseFirstPhase();
  void creditFreedSpace();
  void checkReusePhase();
  void credit(const std::string& path);
  int64_t blocksOf(uint64_t bytes, const Account& account) const;

  FileSystem& fs_;
  const ChangeEntries& entries_;
  std::map<std::string, Crossing> crossing_;  // target -> its copy
  std::set<std::string> reused_;
  std::map<uint64_t, Account> accounts_;      // device -> its account
  struct Nearest {
    bool found = false;
    uint64_t device = 0;
    std::string directory;
  };
  std::map<std::string, Nearest> nearest_;    // parent directory -> its answer
  std::vector<Shortfall> shortfalls_;
  std::string missingTarget_;
};

#endif  // COMMIT_COMMIT_PLAN_H_

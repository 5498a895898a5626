// Applies the entries of a change set so that a crash or a power cut at any
// point leaves either the old state or a journal from which the next run
// finishes the commit.
//
// A fresh commit, in order:
//  0. The plan (CommitPlan): whether every move across file systems fits
//     on its target's file system, counting what the commit frees there
//     and the journal's own room. When it does not, or a move's source is
//     missing, nothing is done at all and the commit is refused.
//  1. The journal: the entries in the manifest's line format (escaped
//     where a path holds a blank or a line feed), written to a
//     temporary file; the file systems of the move sources and of the
//     journal flushed; the journal renamed into place and its directory
//     flushed. Nothing has changed before this point; a journal that
//     finds no room refuses the commit.
//  2. Every move of the plan's first phase is copied into a temporary file
//     beside its target; those file systems are flushed. A copy that fails
//     refuses the commit (the copies and the journal are deleted: still
//     nothing has changed). The applying marker is created and flushed,
//     naming the moves of the reuse phase (empty when there are none).
//  3. Removals and symbolic links in map order. A directory keeps the
//     sources and targets of the commit's moves, so doing this step again
//     never undoes a move.
//  4. The moves onto targets outside the database that are renames or
//     first-phase copies, each one rename.
//  5. The reuse phase, one file at a time: the old target removed, the new
//     file copied beside it, flushed, renamed. Then the targets' file
//     systems are flushed and the marker emptied: from here on no source in
//     volatile memory is needed any more.
//  6. The database entries' moves, so that an entry never claims files
//     that are not in place. When any file could not be put in place they
//     are not applied: the entry stays the old one.
//  7. The file systems of the targets flushed; the journal and the marker
//     deleted and their directory flushed.
// Finishing a journal (resume): without the marker, the copies beside the
// targets are thrown away and steps 0 and 2-7 run again, or the commit is
// abandoned when a move's source is gone (it changed nothing); with a
// marker naming the reuse phase, steps 3-7, copying each named file again
// from its source; with an empty marker, steps 3, 4, 6 and 7. Steps passed
// over what is already done: a removal of a missing target, a link already
// in place, a move whose source is gone or already copied in.
//
// Owns nothing; `fs` and `entries` must outlive the object.
#ifndef COMMIT_DURABLE_COMMIT_H_
#define COMMIT_DURABLE_COMMIT_H_

#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "commit/change_action.h"
#include "commit/change_entries.h"
#include "commit/commit_plan.h"
#include "commit/file_system.h"

// What a commit did.
struct CommitOutcome {
  // Every entry is in place.
  bool applied = true;
  // Nothing of the installed system changed: the commit was not started
  // (no room, or a move's source missing).
  bool refused = false;
  // The error of the first failure (ENOSPC when the change set does not
  // fit) and the target it concerned.
  int error = 0;
  std::string failedTarget;
  // Where room is lacking, when the plan found it.
  std::vector<Shortfall> shortfalls;
};

class DurableCommit {
 public:
  DurableCommit(FileSystem& fs, const ChangeEntries& entries, bool progress)
      : fs_(fs), entries_(entries), progress_(progress) {}
  DurableCommit(const DurableCommit&) = delete;
  DurableCommit& operator=(const DurableCommit&) = delete;

  // Steps 0-7. Every failed call is printed on standard error as
  // "<call>: <reason>" ("rename", "copy", "symlink", "unlink", ...); the
  // rest is applied and the outcome says what failed.
  CommitOutcome run();

  enum class Resumed {
    Finished,   // the commit is complete
    Abandoned,  // it had changed nothing and cannot be finished: nothing is
                // touched but its own copies and journal
    Unfinished  // finished but for the database entries, which stay the
                // old ones: a file could not be put in place (its source
                // was lost with volatile memory)
  };
  // Finishes the commit whose journal is in place.
  Resumed resume();

  // Where a copy across file systems waits beside `target`.
  static std::string copyBeside(const std::string& target);

 private:
  bool refuseUnlessFits(CommitPlan& plan);
  uint64_t journalBytes() const;
  bool writeJournal();
  bool copyFirstPhase(const CommitPlan& plan);
  // Steps 3-7.
  void applyChanges(const std::vector<std::string>& reuse);
  // False after a reported failure to write the marker.
  bool markApplying(const std::vector<std::string>& reuse);
  void applyRemovalsAndLinks();
  void applyFileMoves(const std::set<std::string>& reused);
  bool reuseSpace(const std::vector<std::string>& order);
  bool replaceByCopy(const std::string& source, const std::string& target);
  void applyDatabaseMoves();
  void dropDatabaseCopies();
  void flushTargets();
  void deleteJournal();
  void dropCopies();

  void applyRemoval(const std::string& target);
  // makeDirectories, once per directory between two removals.
  void ensureDirectory(const std::string& directory);
  // Device of an existing directory (stat once per directory); false when
  // stat fails.
  bool directoryDevice(const std::string& directory, uint64_t* device);
  // Device of a move's source: recorded when it was staged, else stat.
  bool sourceDevice(const ChangeAction& action, uint64_t* device);
  // Names in `directory` that the commit's moves take from or bring to it.
  std::set<std::string> keptNamesIn(const std::string& directory) const;
  void applySymlink(const std::string& target, const std::string& text);
  void applyMove(const std::string& target, const std::string& source);
  void flushDevicesOf(const std::vector<std::string>& paths);
  void flushDevice(uint64_t device, const std::string& path, std::set<uint64_t>* flushed);
  void abandon();
  // Prints "<call>: <reason>" and records the failure.
  void fail(const char* call, int error, const std::string& target);
  void refuse(int error, const std::string& target);

  FileSystem& fs_;
  const ChangeEntries& entries_;
  bool progress_;
  bool resumed_ = false;
  bool journaled_ = false;
  bool copiesKnown_ = false;  // the first phase ran in this object
  CommitOutcome outcome_;
  std::set<std::string> madeDirectories_;           // known to exist
  std::map<std::string, uint64_t> directoryDevices_;  // stat of target directories
  std::set<std::string> copies_;                     // made beside targets by this run
};

// Removes the staging directory of the database, and those of other file
// systems, when nothing is left in them (a safe-mode run's staged files
// keep them).
void removeEmptyStagingDirectory(FileSystem& fs);

#endif  // COMMIT_DURABLE_COMMIT_H_

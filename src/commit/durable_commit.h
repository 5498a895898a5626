// Applies the entries of a change set so that a crash or a power cut at any
// point leaves either the old state or a journal from which the next run
// finishes the commit.
//
// A fresh commit, in order:
//  1. The journal: the entries in the manifest's line format (escaped
//     where a path holds a blank or a line feed), written to a
//     temporary file; the file systems of the move sources and of the
//     journal flushed; the journal renamed into place and its directory
//     flushed. Nothing has changed before this point.
//  2. Every move whose source lies on another file system is copied into a
//     temporary file beside its target; those file systems are flushed.
//     The applying marker is created and flushed: from here on no source in
//     volatile memory is needed any more.
//  3. Removals and symbolic links in map order. A directory keeps the
//     sources and targets of the commit's moves, so doing this step again
//     never undoes a move.
//  4. The moves: every target outside the database first, then the
//     database entries, so that an entry never claims files that are not
//     in place. Each is one rename.
//  5. The file systems of the targets flushed; the journal and the marker
//     deleted and their directory flushed.
// Finishing a journal (resume) runs steps 2-5, or 3-5 when the marker is
// there, passing over what is already done: a removal of a missing target,
// a link already in place, a move whose source is gone.
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
#include "commit/file_system.h"

class DurableCommit {
 public:
  DurableCommit(FileSystem& fs, const ChangeEntries& entries, bool progress)
      : fs_(fs), entries_(entries), progress_(progress) {}
  DurableCommit(const DurableCommit&) = delete;
  DurableCommit& operator=(const DurableCommit&) = delete;

  // Steps 1-5. Failures of single entries are printed on standard error
  // ("symlink: <reason>", "rename: <reason>") and the rest is applied; a
  // journal that cannot be written is reported ("journal: <reason>") and
  // the commit goes on without it.
  void run();

  enum class Resumed { Finished, Abandoned };
  // Finishes the commit whose journal is in place. `applying`: the marker
  // was found. Without it, a missing move source means the commit never
  // changed a target and cannot be finished (its staged files were lost
  // with volatile memory): the copies beside the targets and the journal
  // are deleted, nothing else is touched, and the result is Abandoned.
  Resumed resume(bool applying);

  // Where a copy across file systems waits beside `target`.
  static std::string copyBeside(const std::string& target);

 private:
  bool writeJournal();
  void copyAcrossFileSystems();
  void markApplying();
  void applyRemovalsAndLinks();
  void applyMoves();
  void flushTargets();
  void deleteJournal();

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
  bool copyToTarget(const std::string& source, const std::string& target);
  void flushDevicesOf(const std::vector<std::string>& paths);
  void flushDevice(uint64_t device, const std::string& path, std::set<uint64_t>* flushed);
  void abandon();

  FileSystem& fs_;
  const ChangeEntries& entries_;
  bool progress_;
  bool resumed_ = false;
  bool journaled_ = false;
  std::set<std::string> madeDirectories_;           // known to exist
  std::map<std::string, uint64_t> directoryDevices_;  // stat of target directories
  std::set<std::string> copies_;                     // made beside targets by this run
};

// Removes the staging directory of the database when nothing is left in
// it (a safe-mode run's staged files keep it).
void removeEmptyStagingDirectory(FileSystem& fs);

#endif  // COMMIT_DURABLE_COMMIT_H_

// What every run that loads the package database does first: finish a
// commit that a crash or a power cut interrupted, and delete the staged
// files that nothing names any more. Messages go through the active
// console: a notice when a commit was finished, an error naming each
// package whose commit could not be finished.
#ifndef COMMIT_JOURNAL_H_
#define COMMIT_JOURNAL_H_

#include <string>
#include <vector>

#include "commit/file_system.h"

struct JournalOutcome {
  bool found = false;     // a journal was there
  bool finished = false;  // and its commit is now complete
  // Packages (names of the database entries the journal names) whose
  // commit was abandoned or whose journal could not be read.
  std::vector<std::string> unfinished;
};

// Finishes the commit of the journal, if there is one (see DurableCommit).
// Idempotent: interrupted again, the next call finishes it. Prints
// "finished an interrupted install" as a notice when it did, and the error
// "could not finish the interrupted install of %s" per unfinished package
// (without a package: "could not finish an interrupted install"). A
// journal line naming a path that is not absolute or holds ".." makes the
// whole journal refused: the error "refused journal line \"%s\"", then the
// journal is deleted and nothing is applied.
JournalOutcome finishInterruptedCommit(FileSystem& fs);

// Deletes what a run cut short left behind and no manifest names: the
// files of the staging directory on flash, staged files "tmpXXXXXX" in
// "/ram", and a stream copy at the place earlier versions used.
void removeOrphanedStagedFiles(FileSystem& fs);

// Both, in this order: the start of every run that loads the database.
void recoverInterruptedRun(FileSystem& fs);

#endif  // COMMIT_JOURNAL_H_

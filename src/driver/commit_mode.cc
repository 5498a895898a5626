#include "driver/commit_mode.h"

#include <stdio.h>
#include <unistd.h>

#include "commit/change_set.h"
#include "commit/commit_paths.h"
#include "commit/journal.h"
#include "driver/commit_report.h"
#include "driver/install_run.h"
#include "pdb/paths.h"

namespace {

// Written straight to standard output: shown even when quiet, not logged.
const char kFinishing[] = "finishing install... ";
// Erases the last spinner character.
const char kSpinnerErase[] = "\b \n";

void recover() {
  recoverInterruptedRun(FileSystem::real());
  removeStaleReplacement(FileSystem::real(), paths::kPostlog);
}

}  // namespace

int runCommitMode() {
  recover();
  ChangeSet changes;
  // Whatever could be read is applied; a missing manifest applies nothing.
  changes.readManifest(paths::kManifest);
  fputs(kFinishing, stdout);
  fflush(stdout);
  CommitOutcome outcome = changes.commit(true);
  fputs(kSpinnerErase, stdout);
  fflush(stdout);
  if (outcome.applied) return 0;
  // The manifest stays, and with it the staged files it names: the same
  // command applies them once room is made.
  if (lackedRoom(outcome)) {
    if (!reportShortfalls(outcome)) reportNotApplied(paths::kManifest, outcome);
    return kExitNoSpace;
  }
  return 0;
}

void runCancelMode() {
  recover();
  ChangeSet changes;
  changes.readManifest(paths::kManifest);
  changes.cancel();
  unlink(paths::kManifest);
}

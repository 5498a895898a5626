// How a run tells that its change set could not be applied: the commit's
// failures in the words of the run that asked for it.
#ifndef DRIVER_COMMIT_REPORT_H_
#define DRIVER_COMMIT_REPORT_H_

#include <string>

#include "commit/durable_commit.h"

// True when the commit failed for lack of room (no space, or quota).
bool lackedRoom(const CommitOutcome& outcome);

// The disk-space check's errors for a commit refused for lack of room:
// "upgrade failed, free %d kB of kernel disk space" for a shortfall on
// the file system of "/flash/boot", "upgrade failed, free %d kB of disk
// space" for any other. False (nothing printed) when the outcome names no
// shortfall.
bool reportShortfalls(const CommitOutcome& outcome);

// The failed installation of the package shown as `label`, by the error
// that stopped the commit: "installation of %s failed: disk is too small"
// for a lack of room, the failure table's other texts otherwise.
void reportNotApplied(const std::string& label, const CommitOutcome& outcome);

#endif  // DRIVER_COMMIT_REPORT_H_

// The two run modes that work on the manifest of an earlier safe-mode run
// alone, before the root is changed or the database is opened. Both first finish an interrupted
// commit and delete orphaned staged files (recoverInterruptedRun), as every
// run that works on the installed system does.
#ifndef DRIVER_COMMIT_MODE_H_
#define DRIVER_COMMIT_MODE_H_

// --commit: applies "/ram/MANIFEST" with the spinner on, between the texts
// "finishing install... " and "\b \n" on standard output (not silenced,
// not logged). A missing or malformed manifest applies what could be read.
// The manifest stays. Returns the exit status: 0, or 28 after the
// disk-space check's error when the change set does not fit (nothing is
// changed then, and the staged files stay for a later --commit).
int runCommitMode();

// --cancel: deletes "/ram/MANIFEST"; the program ends with status 0. The staged files it names stay where
// they are: a change set read from a manifest owns none of them.
void runCancelMode();

#endif  // DRIVER_COMMIT_MODE_H_

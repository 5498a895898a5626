// The default run mode: installs the package files waiting in the package
// directories into the run's change set, keeps every name that was
// available before still available, checks the disk space, and applies the
// change set (running the post-install program) or, in safe mode, saves
// it in the manifest for a later --commit.
#ifndef DRIVER_INSTALL_RUN_H_
#define DRIVER_INSTALL_RUN_H_

#include <string>
#include <vector>

#include "pdb/package.h"

class ChangeSet;
class PackageDb;

// Exit status of an install run whose change set does not fit on flash.
const int kExitNoSpace = 28;

// Exit status of an install run that could not read a package directory.
const int kExitUnlistedDirectory = 1;

// Finds, selects and installs the candidates. Returns what was installed,
// in installation order (bundle member headers are not kept); on failure
// an empty list, with the change set cancelled. *listed is false when a
// package directory could not be read to its end: nothing was tried then.
std::vector<PackageInfo> runInstall(PackageDb& db, ChangeSet& changes, unsigned options,
                                    bool* listed);

// runInstall, the disk-space check (skipped with AllowReinstall), the
// "installed" notices, then commit and the post-install program, or the
// manifest when `applyNow` is false; finally the post-install log.
// Returns 0, kExitNoSpace when the change set does not fit, or
// kExitUnlistedDirectory.
int runInstallMode(PackageDb& db, ChangeSet& changes, unsigned options, bool applyNow);

// Runs `program` with the single argument `firstArgument` inside
// `rootDirectory` and waits for it. Returns the wait status, or -1.
int runPostInstallTool(const std::string& rootDirectory, const std::string& program,
                       const std::string& firstArgument);

#endif  // DRIVER_INSTALL_RUN_H_

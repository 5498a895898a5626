// The admission check of a package read from a package stream: measures
// the candidate against the installed packages and the running system and
// names every condition found as a flag. It prints at most one message,
// for the first condition found that the allowances do not silence, and
// changes nothing else. Refusing, installing or installing disabled is the
// caller's decision: the unacceptable conditions are the result bits that
// are not among its allowances.
#ifndef RESOLVE_ADMISSION_H_
#define RESOLVE_ADMISSION_H_

#include <stdint.h>

#include "pdb/install_options.h"

class PackageDb;
class PackageInfo;

// Result bits; each shares its position with the InstallOptions allowance
// that accepts it.
enum AdmissionFlag : uint32_t {
  OlderThanInstalled = AllowDowngrade,  // the installed package is newer
  RequirementUnmet = AllowUnmet,        // minimum version, architecture or dependency
  ConflictFound = AllowConflict,        // an enabled installed package conflicts
  SameAsInstalled = AllowReinstall,     // same version and build time as installed
};
typedef uint32_t AdmissionFlags;

// Checks `candidate` (filled from its header parts) against `db`'s
// installed packages and architecture. `allowances` holds InstallOptions
// bits; each one only silences the message of its condition. The flagged
// state and device mode are reported whatever the allowances say, both as
// RequirementUnmet | ConflictFound.
AdmissionFlags checkAdmission(PackageDb& db, const PackageInfo& candidate, uint32_t allowances);

#endif  // RESOLVE_ADMISSION_H_

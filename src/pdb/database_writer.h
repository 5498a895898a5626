// Stages a package's database entry "/flash/var/pdb/<name>/" in the run's
// change set; nothing is written in place. Files of an entry (all text,
// decimal numbers, every line ended by a line feed):
//   version    "<version> <buildTime>"
//   deps       one line per requirement: "<name> <minVersion> <maxVersion>"
//   provides   the same plus " <priority>" (signed); only when non-empty
//   conflicts  like deps; only when non-empty
//   bundle     the bundle's name; only for a bundle member
//   files      one installed path per line, its leading "/" removed; not
//              for a bundle record
//   disabled   "user" or "auto"; only when disabled
//   enabled    "user"; only when enabled by the user's choice
//   image      the package file, kept for packages with a squashfs image
// The descriptive files (version to files) are written only for packages
// without a squashfs image and without the no-meta flag. A file that the
// new entry does not carry is staged for removal, so an entry always reads
// back as it was written.
#ifndef PDB_DATABASE_WRITER_H_
#define PDB_DATABASE_WRITER_H_

#include <string>
#include <vector>

#include "pdb/package.h"

class ChangeSet;
class PackageDb;

// "/flash/var/pdb/" + name + "/".
std::string databaseDir(const PackageInfo& package);

// Stages the whole entry of `package`. False after a reported failure
// ("installation of %s failed: could not create meta/...").
bool writeDatabaseEntry(const Package& package, ChangeSet& changes);

// Stages one list file; false when the staged file cannot be written.
bool writeRefList(ChangeSet& changes, const std::string& path, const std::vector<PackageRef>& list,
                  bool withPriority);

// Makes the entry directory usable for a new entry: withdraws a pending
// removal of it (an old entry being replaced); false when another change is
// pending for it or something other than a directory stands there.
bool prepareDatabaseDir(const PackageInfo& package, ChangeSet& changes);

// Package::writeEnabledState for each package in order, showing
// "enabling <name>..." and printing "enabled <name>" when `verbose`.
void enablePackages(PackageDb& db, ChangeSet& changes, const std::vector<Package*>& list,
                    bool verbose);

#endif  // PDB_DATABASE_WRITER_H_

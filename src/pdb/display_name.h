// How messages name packages, and the console's package reports in terms of
// records.
#ifndef PDB_DISPLAY_NAME_H_
#define PDB_DISPLAY_NAME_H_

#include <string>

#include "pdb/package.h"

// name "-" version text.
std::string displayName(const PackageInfo& package);
// The reference's name, plus "-" and its lowest version when that is not 0.
std::string refDisplayName(const PackageRef& ref);
// The bundle reference's display name for a bundle member, else displayName.
std::string progressName(const Package& package);

// The console's reports, naming the package by progressName.
void reportCreateFailure(const Package& package, const std::string& path);
void reportBrokenPackage(const Package& package);

#endif  // PDB_DISPLAY_NAME_H_

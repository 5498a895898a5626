// Console output besides the PackageDb message routines: the transient
// progress line, the install bar, the fixed failure reports and the copy
// spinner. Everything goes to standard output.
#ifndef CONSOLE_CONSOLE_H_
#define CONSOLE_CONSOLE_H_

#include <string>

#include "pdb/package.h"

class PackageReader;

// Replaces the progress line; the empty text erases it. Nothing when quiet
// or when the text is already shown.
void showProgress(const std::string& line);
// name "-" version text.
std::string displayName(const PackageInfo& package);
// The reference's name, plus "-" and its lowest version when that is not 0.
std::string refDisplayName(const PackageRef& ref);
// The bundle reference's display name for a bundle member, else displayName.
std::string progressName(const Package& package);
// Draws the 79-column install bar for the bytes `reader` has consumed.
void showInstallProgress(const Package& package, PackageReader& reader);
// Error for a failed file creation, chosen by the current errno.
void reportCreateFailure(const Package& package, const std::string& path);
// "installation of %s failed: broken package".
void reportBrokenPackage(const Package& package);
// Copies a regular file, creating or truncating the target with the source's
// permission bits; advances the spinner per block when `spinner` is on.
// Fails silently: the caller learns nothing of the outcome.
void copyWithSpinner(const std::string& source, const std::string& target, bool spinner);

#endif  // CONSOLE_CONSOLE_H_

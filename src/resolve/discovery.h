// Finding candidate package files in a package directory. Only headers are
// read: no signature is checked and nothing is compared with the installed
// packages (admission and selection do that later). The one exception is a
// branding candidate while the installed branding is protected: its image
// is mounted for a moment to see whether it is protected too.
#ifndef RESOLVE_DISCOVERY_H_
#define RESOLVE_DISCOVERY_H_

#include <memory>
#include <string>
#include <vector>

#include "resolve/package_file.h"

class PackageDb;

// Reads every entry of `directory` (ending in "/") whose name ends in
// ".npk" or ".dpk" and does not begin with "." and appends, in directory
// order, a record for each file that is readable (headers, and member
// headers of a bundle), built for `db.architecture` (or for no particular
// one), allowed by device mode (or "/ram/SECURE" exists) and, for
// "branding", allowed to replace the installed branding. Each rejected
// file gets one console message through `db`; other names are skipped
// silently. A directory that cannot be opened adds nothing and says
// nothing. A directory that cannot be read to its end adds nothing either
// and returns false, after "readdir", the directory and the system's
// error text on standard error.
bool scanPackageDirectory(const std::string& directory,
                          std::vector<std::unique_ptr<PackageFile>>& candidates, PackageDb& db);

// Whether a branding candidate may replace the installed branding: always
// when the installed one is not protected, otherwise only when the
// candidate's own image carries the protection marker. Failed loop or mount
// steps are reported on standard error and refuse. The image of a
// candidate whose signatures the scan refused is never mounted: it is let
// through, to fail as broken when it is installed.
bool brandingReplaceAllowed(const PackageFile& candidate);

#endif  // RESOLVE_DISCOVERY_H_

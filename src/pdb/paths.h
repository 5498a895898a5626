// Every fixed path of the installer above the commit, named once (the
// commit's own are in commit/commit_paths.h). All are absolute inside the
// (possibly changed) process root.
#ifndef PDB_PATHS_H_
#define PDB_PATHS_H_

#include "commit/commit_paths.h"

namespace paths {

// Package database (its root, the journal and the stream copy are the
// commit's: commit/commit_paths.h).
const char kKeptImagesDir[] = "/rw/pckg/.images/";
const char kScheduleRoot[] = "/ram/pdb/";

// Package directories of the install run, in the order they are tried.
const char kDownloadDir[] = "/rw/pckg/.download/";
const char kFlashPackageDir[] = "/flash/rw/pckg/";
const char kFlashVarPackageDir[] = "/flash/var/pckg/";
const char kIgnoreMarker[] = "/rw/pckg/.download/IGNORE";

// Install targets.
const char kFlashRoot[] = "/flash";
const char kFlashBoot[] = "/flash/boot";
const char kBootImage[] = "/flash/bootimage";
const char kBootKernel[] = "/flash/boot/kernel";
const char kDisabledRoot[] = "/flash/x/";

// Marker files.
const char kSecureMarker[] = "/ram/SECURE";
const char kDowngradeMarker[] = "/ram/DOWNGRADE";
const char kIpv6Marker[] = "/ram/ipv6";
const char kPackagesChanged[] = "/flash/PCKGS_CHANGED";
const char kConvertMarker[] = "/rw/CONVERT";
const char kUpgradedMarker[] = "/flash/UPGRADED";
const char kBrandingInstalled[] = "/flash/BRANDING_INSTALLED";
const char kBrandingDefconf[] = "/pckg/branding/FORCE_DEFCONF_ON_RESET";
const char kRamBrandingDefconf[] = "/ram/branding/FORCE_DEFCONF_ON_RESET";

// Post-install log and program.
const char kPostlog[] = "/flash/postlog";
const char kPostInstallTool[] = "/bin/tesk";

// Inspection of a candidate branding image.
const char kBrandingMountPoint[] = "/ram/branding";
const char kLoopControl[] = "/dev/loop-control";
// printf pattern of a loop device node, by device number.
const char kLoopDevicePattern[] = "/dev/loop%d";

}  // namespace paths

#endif  // PDB_PATHS_H_

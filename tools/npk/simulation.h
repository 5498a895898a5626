// `npk simulate`: a dry run of the real installer. The router root is
// the lower layer of an overlay file system whose upper layer is a
// scratch directory on a private tmpfs; the installer runs with "-r" on
// the overlay, so every change it makes lands in the upper layer and the
// root itself is never written. The mounts live in a mount namespace of
// their own (so they vanish with the process on any exit, even a crash)
// and are unmounted in order when the simulation ends, on every path.
//
// What the run would change is read from two places: the packages from
// the installer's own `--show` table, taken on the overlay before and
// after the run; the files from the upper layer (whiteouts and opaque
// directories are removals, copied-up files replacements, new files
// additions). Package files npk puts into the download directory are not
// reported as added files.
#ifndef NPK_SIMULATION_H_
#define NPK_SIMULATION_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

struct SimulationRequest {
  std::string root;
  std::vector<std::string> packages;  // added to the download directory
  std::string streamFile;             // a stream run reading this file, when set
  std::string installer;              // the program to run
};

// One line of the --show table.
struct ListedPackage {
  std::string version;
  std::string built;
  bool disabled = false;
  bool bundled = false;
};

struct PackageChange {
  std::string name;
  // "installed", "upgraded", "downgraded", "reinstalled" (same version,
  // another build time), "changed" (versions that cannot be ordered),
  // "disabled", "enabled" or "removed". A package installed disabled has
  // an "installed" and a "disabled" change.
  std::string change;
  std::string from, to;  // versions; "" where there is none
};

struct FileChange {
  std::string path;    // inside the root, beginning with "/"
  std::string change;  // "added", "replaced" or "removed"
  uint64_t sizeBefore = 0, sizeAfter = 0;
};

struct SimulationResult {
  std::string output;  // standard output and error of the run, as they came
  int status = -1;     // its exit status, or 128 + signal
  std::vector<PackageChange> packages;
  std::vector<FileChange> files;
};

// False with *error when the simulation cannot be made (not root, ROOT
// not a directory, a mount or the installer cannot be started). A run of
// the installer that fails is a result, not an error.
bool simulateRun(const SimulationRequest& request, SimulationResult* result, std::string* error);

// The packages of a --show table by name.
std::map<std::string, ListedPackage> parseListing(const std::string& table);
// What changed from one table to the other, in name order.
std::vector<PackageChange> packageChanges(const std::map<std::string, ListedPackage>& before,
                                          const std::map<std::string, ListedPackage>& after);

// The default installer: "installer" beside the running npk when there is
// one, else <npk's directory>/../libexec/kestavin/installer (where the
// Debian package puts it), else "installer" (found on PATH).
std::string defaultInstaller();

#endif  // NPK_SIMULATION_H_

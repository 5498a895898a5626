#include "driver/install_run.h"

#include <errno.h>
#include <inttypes.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "console/console.h"
#include "commit/change_set.h"
#include "driver/disk_space.h"
#include "driver/stream_install.h"
#include "package/file_source.h"
#include "pdb/database_writer.h"
#include "pdb/display_name.h"
#include "pdb/install_options.h"
#include "pdb/package_db.h"
#include "commit/commit_paths.h"
#include "driver/commit_report.h"
#include "pdb/paths.h"
#include "platform/nv.h"
#include "platform/regular_file.h"
#include "resolve/discovery.h"
#include "resolve/package_file.h"
#include "resolve/selection.h"

namespace {

typedef std::vector<std::unique_ptr<PackageFile>> Candidates;

bool fileExists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// The limit from "/ram/DOWNGRADE" (0 when it holds no number), which also
// allows downgrades; no limit without the file.
PackageVersion readDowngradeLimit(unsigned* options) {
  std::string content;
  FileRead read = readRegularFile(paths::kDowngradeMarker, kSmallFileLimit, &content);
  if (read == FileRead::kMissing) return kNoDowngradeLimit;
  *options |= AllowDowngrade;
  // A marker too long to hold a number holds none.
  if (read == FileRead::kTooLong) content.clear();
  std::istringstream in(content);
  unsigned long limit = 0;
  if (!(in >> limit) || limit > 0xFFFFFFFFul) limit = 0;
  return static_cast<PackageVersion>(limit);
}

// The download directory first; the flash directories (and the end of
// the secure mode) when it is ignored or holds nothing acceptable. False
// as soon as a directory cannot be read to its end: what it seemed to
// hold, or lack, would decide which directory counts.
bool findCandidates(PackageDb& db, Candidates* candidates, bool* fromDownload) {
  *fromDownload = false;
  if (!fileExists(paths::kIgnoreMarker)) {
    if (!scanPackageDirectory(paths::kDownloadDir, *candidates, db)) return false;
    *fromDownload = true;
    if (!candidates->empty()) return true;
  }
  unlink(paths::kSecureMarker);
  *fromDownload = false;
  if (!scanPackageDirectory(paths::kFlashPackageDir, *candidates, db)) return false;
  return !candidates->empty() || scanPackageDirectory(paths::kFlashVarPackageDir, *candidates, db);
}

StateMap userStates(const PackageDb& db) {
  StateMap states;
  for (const Package* package : db.packages) {
    if (package->userChoice) states[package->name] = package->disabled;
  }
  return states;
}

std::set<std::string> availableNames(const PackageDb& db) {
  std::set<std::string> names;
  for (const Package* package : db.packages) {
    if (package->disabled) continue;
    names.insert(package->name);
    for (const PackageRef& provided : package->provides) names.insert(provided.name);
  }
  return names;
}

// The package file itself becomes the kept image of its database entry;
// a boot image is kept as "/flash/bootimage" and replaces the kernel file.
void keepImage(const PackageFile& candidate, bool bootImage, ChangeSet& changes) {
  std::string image = databaseDir(candidate) + "image";
  if (bootImage) {
    changes.addMove(candidate.path, paths::kBootImage);
    changes.addSymlink(paths::kBootImage, image);
    changes.addRemoval(paths::kBootKernel);
  } else {
    changes.addMove(candidate.path, image);
  }
}

// A copy for the installed list; member headers die with the candidate.
PackageInfo installedCopy(const PackageFile& candidate) {
  PackageInfo copy = candidate;
  copy.members.clear();
  return copy;
}

// Installs every candidate in order; false (change set cancelled) as soon
// as one fails.
bool installCandidates(PackageDb& db, const Candidates& candidates, ChangeSet& changes,
                       unsigned options, std::vector<PackageInfo>* installed) {
  StateMap states = userStates(db);
  for (const std::unique_ptr<PackageFile>& candidate : candidates) {
    FileSource file;
    if (!file.open(candidate->path)) continue;
    bool bootImage = false;
    std::string databaseEntry;
    int result = installStream(db, file, changes, options, states, nullptr, &databaseEntry,
                               &bootImage, &candidate->signatures);
    if (result != 0) {
      changes.cancel();
      return false;
    }
    // Only a file that was verified and installed becomes the kept image;
    // one refused as already installed was never checked.
    if (candidate->squashfsImage && !databaseEntry.empty()) {
      keepImage(*candidate, bootImage, changes);
    }
    installed->push_back(installedCopy(*candidate));
  }
  return true;
}

// The packages that answer to each name (their own or a provided one), in
// database order, so that the available-names check costs one lookup per
// name: a package may provide 65,535 names. A snapshot of `packages`.
class ProviderIndex {
 public:
  explicit ProviderIndex(const PackageDb& db) {
    for (Package* package : db.packages) {
      add(package->name, package);
      for (const PackageRef& provided : package->provides) add(provided.name, package);
    }
  }

  // What PackageDb::findProvider answers: the first enabled package, else
  // the last disabled one.
  Package* findProvider(const std::string& name) const {
    auto found = byName_.find(name);
    if (found == byName_.end()) return nullptr;
    Package* provider = nullptr;
    for (Package* package : found->second) {
      provider = package;
      if (!package->disabled) break;
    }
    return provider;
  }

 private:
  void add(const std::string& name, Package* package) {
    std::vector<Package*>& providers = byName_[name];
    if (providers.empty() || providers.back() != package) providers.push_back(package);
  }

  std::map<std::string, std::vector<Package*>> byName_;
};

// Every name available before the run must still be provided: disabled
// providers are enabled where nothing conflicts. A name lost for good
// fails the run unless the packages came from the download directory.
bool keepNamesAvailable(PackageDb& db, const std::set<std::string>& names, bool fromDownload,
                        ChangeSet& changes) {
  std::vector<Package*> toEnable;
  const ProviderIndex index(db);
  std::map<const Package*, bool> unconflicted;
  for (const std::string& name : names) {
    Package* provider = index.findProvider(name);
    if (provider == nullptr) {
      if (fromDownload) continue;
      db.printError("missing package %s", name.c_str());
      changes.cancel();
      return false;
    }
    if (!provider->disabled) continue;
    // A provider of many names is asked about its conflicts once.
    auto known = unconflicted.find(provider);
    if (known == unconflicted.end()) {
      known = unconflicted.emplace(provider, db.findConflicting(*provider) == nullptr).first;
    }
    if (known->second) toEnable.push_back(provider);
  }
  enablePackages(db, changes, toEnable, true);
  return true;
}

void enableIpv6WhenAsked(PackageDb& db, ChangeSet& changes) {
  Package* ipv6 = db.findProvider("ipv6");
  if (ipv6 == nullptr || !ipv6->disabled || !nv::fileExists(paths::kIpv6Marker, 0)) return;
  ipv6->userChoice = true;
  ipv6->writeEnabledState(changes);
}

// False after reporting what must be freed on which file system.
bool fitsOnFlash(PackageDb& db, const ChangeSet& changes) {
  int64_t kernelMargin = 0, flashMargin = 0;
  if (checkDiskSpace(changes, &kernelMargin, &flashMargin)) return true;
  if (kernelMargin < 0) {
    db.printError("upgrade failed, free %" PRId64 " kB of kernel disk space",
                  kilobytesToFree(kernelMargin));
  }
  if (flashMargin < 0) {
    db.printError("upgrade failed, free %" PRId64 " kB of disk space", kilobytesToFree(flashMargin));
  }
  return false;
}

void printInstalled(PackageDb& db, const std::vector<PackageInfo>& installed) {
  for (const PackageInfo& package : installed) {
    db.printNotice("installed %s", displayName(package).c_str());
  }
}

// A commit that did not fit fails the run as the disk-space check does;
// any other failure is told per package. Returns the exit status.
int reportNotCommitted(const std::vector<PackageInfo>& installed, const CommitOutcome& outcome,
                       int status) {
  if (lackedRoom(outcome) && reportShortfalls(outcome)) return kExitNoSpace;
  for (const PackageInfo& package : installed) reportNotApplied(displayName(package), outcome);
  return lackedRoom(outcome) ? kExitNoSpace : status;
}

void stagePackagesChanged(ChangeSet& changes) {
  std::ofstream marker;
  changes.openStagedFile(marker, paths::kPackagesChanged, 1, 0);
  marker.close();
}

}  // namespace

std::vector<PackageInfo> runInstall(PackageDb& db, ChangeSet& changes, unsigned options,
                                    bool* listed) {
  PackageVersion limit = readDowngradeLimit(&options);
  bool fromDownload = false;
  Candidates candidates;
  *listed = findCandidates(db, &candidates, &fromDownload);
  if (!*listed) {
    changes.cancel();
    return {};
  }
  selectCandidates(db, candidates, limit, true);
  std::set<std::string> names = availableNames(db);
  if (!candidates.empty()) db.loadPostlog();
  std::vector<PackageInfo> installed;
  if (!installCandidates(db, candidates, changes, options, &installed)) return {};
  if (!keepNamesAvailable(db, names, fromDownload, changes)) return {};
  enableIpv6WhenAsked(db, changes);
  if (db.packages.empty()) {
    db.printError("router installation failed!!!");
    changes.cancel();
    return {};
  }
  return installed;
}

int runInstallMode(PackageDb& db, ChangeSet& changes, unsigned options, bool applyNow) {
  bool listed = true;
  std::vector<PackageInfo> installed = runInstall(db, changes, options, &listed);
  int status = listed ? 0 : kExitUnlistedDirectory;
  if (!(options & AllowReinstall) && !fitsOnFlash(db, changes)) {
    changes.cancel();
    installed.clear();
    status = kExitNoSpace;
  }
  // What is applied now is reported installed once it is in place.
  if (!applyNow || changes.empty()) printInstalled(db, installed);
  if (!changes.empty()) {
    stagePackagesChanged(changes);
    if (applyNow) {
      CommitOutcome outcome = changes.commit(false);
      if (outcome.applied) {
        printInstalled(db, installed);
        runPostInstallTool(paths::kFlashRoot, paths::kPostInstallTool, "tesk");
      } else {
        status = reportNotCommitted(installed, outcome, status);
      }
    } else {
      changes.writeManifest(paths::kManifest);
    }
  }
  db.writePostlog();
  return status;
}

int runPostInstallTool(const std::string& rootDirectory, const std::string& program,
                       const std::string& firstArgument) {
  fflush(stdout);
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (chroot(rootDirectory.c_str()) != 0) {
      // The program is looked for in the current root then.
    }
    if (chdir("/") != 0) _exit(127);
    execl(program.c_str(), firstArgument.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

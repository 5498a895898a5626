#include "driver/stream_install.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <set>
#include <streambuf>

#include "console/console.h"
#include "driver/commit_report.h"
#include "driver/stream_copy.h"
#include "commit/change_set.h"
#include "package/file_source.h"
#include "package/package_reader.h"
#include "package/safe_names.h"
#include "package/signature.h"
#include "pdb/database_writer.h"
#include "pdb/display_name.h"
#include "pdb/package.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "resolve/admission.h"

namespace {

const char kImageName[] = "image";

// Part types the installation of a stream stops at, in this order.
const int kStreamWantedTypes[] = {
    kPartPackageHeader, kPartBundleHeader, kPartBundleMembers, kPartArchitecture,
    kPartDependencies,  kPartProvides,     kPartConflicts,     kPartSquashfsImage,
    kPartFileContainer, kPartSignature,    kPartBundleSignature,
};

// A bundle's member list names its members; each must be a package name
// like any other.
bool safeMemberList(const std::vector<PackageRef>& members) {
  for (const PackageRef& member : members) {
    if (!isSafePackageName(member.name)) return false;
  }
  return true;
}

// One installation of a bundle: the bundle's own record and entry, then its
// members.
class BundleInstall {
 public:
  BundleInstall(PackageDb& db, PackageReader& reader, ChangeSet& changes, unsigned options,
                const StateMap& stateMap, const CheckedSignatures* checked)
      : db_(db),
        reader_(reader),
        changes_(changes),
        options_(options),
        stateMap_(stateMap),
        checked_(checked) {}

  int run(std::string* dbDirOut, bool* bootOut, std::string* labelOut) {
    if (bootOut) *bootOut = false;
    std::unique_ptr<Package> bundle(new Package());
    int result = readBundle(*bundle, dbDirOut);
    if (result != kStreamInstalled) return result;
    if (labelOut) *labelOut = displayName(*bundle);
    if (checkAdmission(db_, *bundle, options_) & ~options_) return kStreamBundleRefused;
    // A bundle whose own signature the scan refused is broken; nothing of
    // it is staged.
    if (checked_ && !checked_->bundle) {
      reportBrokenPackage(*bundle);
      return kStreamBundleRefused;
    }
    replaceInstalled(*bundle);
    if (!prepareDatabaseDir(*bundle, changes_) || !writeDatabaseEntry(*bundle, changes_)) {
      return kStreamNotInstalled;
    }
    adopt(std::move(bundle));
    return installMembers(bootOut);
  }

 private:
  int readBundle(Package& bundle, std::string* dbDirOut) {
    if (!readPackageHeader(bundle, reader_)) return kStreamNotInstalled;
    if (!isSafePackageName(bundle.name)) {
      reportBrokenPackage(bundle);
      return kStreamNotInstalled;
    }
    if (!bundle.depends.empty() || !bundle.provides.empty() || !bundle.conflicts.empty()) {
      return kStreamNotInstalled;
    }
    // The bundle's image is not unpacked; the stream copy keeps it.
    if (reader_.currentType() == kPartSquashfsImage) reader_.nextPart();
    if (bundle.squashfsImage && dbDirOut) *dbDirOut = databaseDir(bundle);
    return kStreamInstalled;
  }

  void replaceInstalled(const Package& bundle) {
    if (Package* installed = db_.find(bundle.name)) {
      installed->stageRemoval(changes_);
      db_.remove(installed);
    }
  }

  // The database owns the bundle record from here on; a second record of
  // its name goes, with nothing staged for it.
  void adopt(std::unique_ptr<Package> bundle) {
    bundleRef_ = PackageRef(bundle->name, bundle->version, bundle->version, 0);
    if (Package* stale = db_.find(bundle->name)) db_.remove(stale);
    bundle_ = bundle.release();
    db_.packages.push_back(bundle_);
    for (const Package* package : db_.packages) {
      if (package->bundle.name == bundleRef_.name) previousMembers_.insert(package->name);
    }
  }

  // Placeholders make the listed members that the user has not chosen a
  // state for conflict, so that they install disabled.
  bool addPlaceholders() {
    std::vector<PackageRef>& members = listedMembers_;
    readPackageList(reader_, members);
    if (!safeMemberList(members)) {
      reportBrokenPackage(*bundle_);
      return false;
    }
    for (const PackageRef& member : members) {
      if (stateMap_.count(member.name)) continue;
      Package* placeholder = new Package();
      placeholder->conflicts.push_back(PackageRef(member.name, 0, 0, 0));
      db_.packages.push_back(placeholder);
    }
    reader_.nextPart();
    return true;
  }

  SignatureKnown signatureOf(size_t member) const {
    if (checked_ == nullptr) return SignatureKnown::kNotYet;
    return checked_->packageValid(member) ? SignatureKnown::kValid : SignatureKnown::kInvalid;
  }

  // A bundle that signs its own parts must match its signature; one
  // without (older tools) installs as its members' signatures allow.
  bool bundleSignatureHolds() {
    if (!verifyBundleSignature(reader_, *bundle_)) {
      reportBrokenPackage(*bundle_);
      return false;
    }
    reader_.nextPart();
    return true;
  }

  // Every member the list names must be in the bundle: one cut off would
  // otherwise stay installed at its old version or not at all.
  bool carriesListedMembers() {
    for (const PackageRef& listed : listedMembers_) {
      if (carriedMembers_.count(listed.name) == 0) {
        reportBrokenPackage(*bundle_);
        return false;
      }
    }
    return true;
  }

  int installMembers(bool* bootOut) {
    if (reader_.currentType() == kPartBundleMembers && !addPlaceholders()) {
      return kStreamBundleRefused;
    }
    int installed = 0;
    size_t index = 0;
    while (reader_.currentType() == kPartPackageHeader) {
      bool memberBoot = false;
      Package* member = installPackage(db_, reader_, changes_, options_, stateMap_, &bundleRef_,
                                       nullptr, &memberBoot, signatureOf(index++));
      if (member == nullptr) return kStreamBundleRefused;
      carriedMembers_.insert(member->name);
      previousMembers_.erase(member->name);
      if (bootOut && memberBoot) *bootOut = true;
      ++installed;
    }
    if (reader_.currentType() == kPartArchitecture) reader_.nextPart();
    if (reader_.currentType() == kPartBundleSignature && !bundleSignatureHolds()) {
      return kStreamBundleRefused;
    }
    if (reader_.currentType() != -1) return kStreamBundleRefused;
    // Stray bytes after the last member are no part of the bundle.
    if (!reader_.endedCleanly()) {
      reportBrokenPackage(*bundle_);
      return kStreamBundleRefused;
    }
    if (installed == 0) return kStreamBundleEmpty;
    if (!carriesListedMembers()) return kStreamBundleRefused;
    dropPreviousMembers();
    showProgress(std::string());
    return kStreamInstalled;
  }

  // Members the new bundle no longer carries are uninstalled with it; the
  // schedule stages their removal (and whatever follows from it).
  void dropPreviousMembers() {
    for (const std::string& name : previousMembers_) {
      if (Package* package = db_.find(name)) package->action = kActionUninstall;
    }
    db_.applySchedule(changes_, false);
  }

  PackageDb& db_;
  PackageReader& reader_;
  ChangeSet& changes_;
  unsigned options_;
  const StateMap& stateMap_;
  const CheckedSignatures* checked_;
  Package* bundle_ = nullptr;  // owned by db_ once adopted
  PackageRef bundleRef_;
  std::set<std::string> previousMembers_;
  std::vector<PackageRef> listedMembers_;
  std::set<std::string> carriedMembers_;
};

void reportImageNotCreated() {
  fputs("ERROR: could not open image\n", stdout);
  fflush(stdout);
}

// The stream copy becomes the kept image of the entry at `dbDir`, or, for
// the boot image, "/flash/bootimage" with a link to it in the entry.
void stageKeptImage(ChangeSet& changes, const std::string& dbDir, bool bootImage) {
  if (bootImage) {
    changes.addMove(paths::kStreamImage, paths::kBootImage);
    changes.addSymlink(paths::kBootImage, dbDir + kImageName);
  } else {
    changes.addMove(paths::kStreamImage, dbDir + kImageName);
  }
}

void stagePackagesChanged(ChangeSet& changes) {
  std::ofstream marker;
  changes.openStagedFile(marker, paths::kPackagesChanged, 1, 0);
  marker.close();
}

}  // namespace

namespace {

int installWatchedStream(PackageDb& db, std::streambuf& input, ChangeSet& changes,
                         unsigned options, const StateMap& stateMap, std::streambuf* copyTarget,
                         PartWatcher* watcher, std::string* dbDirOut, bool* bootOut,
                         const CheckedSignatures* checked, std::string* labelOut = nullptr,
                         bool* bundleOut = nullptr) {
  PackageReader reader(&input, true, copyTarget);
  reader.wantedTypes.assign(std::begin(kStreamWantedTypes), std::end(kStreamWantedTypes));
  reader.partWatcher = watcher;
  reader.nextPart();
  if (reader.currentType() != kPartBundleHeader) {
    SignatureKnown signature = SignatureKnown::kNotYet;
    if (checked) signature = checked->packageValid(0) ? SignatureKnown::kValid : SignatureKnown::kInvalid;
    Package* installed = installPackage(db, reader, changes, options, stateMap, nullptr, dbDirOut,
                                        bootOut, signature);
    if (installed && labelOut) *labelOut = progressName(*installed);
    return installed ? kStreamInstalled : kStreamNotInstalled;
  }
  if (bundleOut) *bundleOut = true;
  return BundleInstall(db, reader, changes, options, stateMap, checked).run(dbDirOut, bootOut, labelOut);
}

}  // namespace

int installStream(PackageDb& db, std::streambuf& input, ChangeSet& changes, unsigned options,
                  const StateMap& stateMap, std::streambuf* copyTarget, std::string* dbDirOut,
                  bool* bootOut, const CheckedSignatures* checked) {
  return installWatchedStream(db, input, changes, options, stateMap, copyTarget, nullptr,
                              dbDirOut, bootOut, checked);
}

int runStreamMode(PackageDb& db, ChangeSet& changes, unsigned options) {
  // Created before anything is read, so that a copy that cannot be made
  // fails the run before it has done or said anything; it is written only
  // when the stream turns out to carry the image it keeps.
  mkdir(paths::kStagingDir, 0700);
  StreamCopy copy(paths::kStreamImage, kStagingReserve);
  if (!copy.create()) {
    reportImageNotCreated();
    return -1;
  }
  KeptImageWatch watch(copy);
  std::string dbDir;
  bool bootImage = false;
  FileSource input;
  input.attach(STDIN_FILENO);
  std::string label;
  bool bundle = false;
  int result = installWatchedStream(db, input, changes, options, StateMap(), &copy, &watch,
                                    &dbDir, &bootImage, nullptr, &label, &bundle);
  bool copied = copy.finish() && copy.kept();
  // A kept image that lost bytes could never be mounted: the run fails as
  // when the copy cannot be made at all.
  if (result == kStreamInstalled && !dbDir.empty() && !copied) {
    reportImageNotCreated();
    changes.cancel();
    db.writePostlog();
    return -1;
  }
  if (result == kStreamInstalled) {
    if (!dbDir.empty()) stageKeptImage(changes, dbDir, bootImage);
    stagePackagesChanged(changes);
    CommitOutcome outcome = changes.commit(false);
    if (!outcome.applied) {
      reportNotApplied(label, outcome);
      result = bundle ? kStreamBundleRefused : kStreamNotInstalled;
    }
  } else {
    changes.cancel();
  }
  db.writePostlog();
  return result;
}

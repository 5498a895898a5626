#include "driver/content_install.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "console/console.h"
#include "commit/change_set.h"
#include "package/content_stream.h"
#include "package/package_reader.h"
#include "package/safe_names.h"
#include "package/signature.h"
#include "pdb/database_writer.h"
#include "pdb/display_name.h"
#include "pdb/install_options.h"
#include "pdb/package.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "resolve/admission.h"

namespace {

const char kSystemName[] = "system";
const char kBrandingName[] = "branding";
const char kBootImageVariable[] = "bootimage";
// Major versions up to this one leave "/rw/CONVERT" for the system package.
const PackageVersion kLastConvertingMajor = 6;
const uint32_t kAllAllowances = 0xFFFFFFFF;
const size_t kImageStep = 4096;
// File data goes to the staged file in pieces this large: one write for
// most files, few for the rest.
const size_t kCopyPiece = 65536;
const size_t kProgressClearWidth = 78;

bool bootImageVariableSet() { return getenv(kBootImageVariable) != nullptr; }

bool isBootImage(const Package& package) {
  return (package.headerFlags & PackageInfo::bootImageFlag) != 0;
}

bool recordedInDatabase(const PackageReader& reader) { return reader.magic() != kUnrecordedMagic; }

// Draws the install bar for the bytes the reader has consumed.
void showInstallProgress(const Package& package, PackageReader& reader) {
  // tellg on a stream at its end would mark it failed; such a stream (and
  // one that cannot tell its position) simply gets no redraw.
  if (!reader.good()) return;
  std::streamoff withinPart = reader.tellg();
  if (withinPart < 0) return;
  uint64_t done = reader.partOffset() + static_cast<uint64_t>(withinPart);
  bool disabledStandalone = package.disabled && package.bundle.name.empty();
  ::showInstallProgress(progressName(package), disabledStandalone, done, reader.totalSize());
}

std::string targetPath(const Package& package, const std::string& entryPath) {
  // A disabled package keeps its files in a directory of its own.
  std::string target = package.disabled ? paths::kDisabledRoot + package.name : paths::kFlashRoot;
  if (entryPath.empty() || entryPath[0] != '/') target += "/";
  return target + entryPath;
}

void createConvertMarker() {
  int fd = open(paths::kConvertMarker, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
}

// Markers are empty files: staging one and closing it at once is all.
void stageMarker(ChangeSet& changes, const std::string& path) {
  std::ofstream marker;
  changes.openStagedFile(marker, path, 1, 0);
  marker.close();
}

// Admission of a member prints nothing (every allowance set); a standalone
// package is never refused for a conflict, it is installed disabled.
uint32_t admissionFlags(PackageDb& db, const Package& package, unsigned options, bool member) {
  return checkAdmission(db, package, member ? kAllAllowances : (options | AllowConflict));
}

void applyEnableState(Package& package, const StateMap& stateMap, uint32_t* flags) {
  auto chosen = stateMap.find(package.name);
  package.disabled = chosen != stateMap.end() && chosen->second;
  if (chosen != stateMap.end()) package.userChoice = true;
  if (*flags & ConflictFound) {
    package.disabled = true;
    *flags &= ~static_cast<uint32_t>(ConflictFound);
  }
}

// Passes over what is left of a refused member, up to the next member's
// header, the bundle's own signature or the end.
void skipToNextMember(PackageReader& reader) {
  while (reader.currentType() != kPartPackageHeader &&
         reader.currentType() != kPartBundleSignature && reader.currentType() != -1) {
    reader.nextPart();
  }
}

// What a refused package leaves: the installed record where one answers
// for it, else null.
Package* refuse(PackageDb& db, PackageReader& reader, const Package& package, uint32_t flags,
                unsigned options, bool member, bool* bootOut) {
  if (member) {
    skipToNextMember(reader);
    return db.find(package.name);
  }
  if (flags & RequirementUnmet) return nullptr;
  if (!(flags & SameAsInstalled)) return nullptr;
  Package* installed = db.find(package.name);
  if (options & AllowReinstall) {
    showProgress(std::string(kProgressClearWidth, ' '));
    showProgress(std::string());
    db.printNotice("installed %s%s", package.disabled ? "(disabled) " : "",
                   displayName(package).c_str());
    if (bootOut && installed) *bootOut = isBootImage(*installed);
  }
  return installed;
}

// The image is not unpacked: the package file itself becomes the kept
// image. Its bytes are still digested and copied on the way.
void passOverImage(const Package& package, PackageReader& reader) {
  while (reader.partUnread() > 0 && reader.good()) {
    showInstallProgress(package, reader);
    std::streamoff step = std::min<uint32_t>(reader.partUnread(), kImageStep);
    reader.seekg(step, std::ios_base::cur);
  }
  reader.nextPart();
}

bool installFileTree(Package& package, PackageReader& reader, ChangeSet& changes,
                     bool boundBySpace) {
  if (bootImageVariableSet() && isBootImage(package)) {
    reader.nextPart();
    return true;
  }
  if (!extractFiles(package, reader, changes, boundBySpace)) return false;
  reader.nextPart();
  return true;
}

bool verifySignature(const Package& package, PackageReader& reader) {
  if (reader.currentType() != kPartSignature || !reader.digestOn() ||
      !verifyPackageSignature(reader, package)) {
    reportBrokenPackage(package);
    return false;
  }
  reader.nextPart();
  return true;
}

// A standalone package may end with one architecture part and one empty
// dependencies part after its signature, and nothing else: no part of
// another type (passed over unread, it would still be kept with the
// image) and no stray bytes. `passedBefore` is the reader's count of
// passed-over parts at the signature.
bool endsAfterSignature(const Package& package, PackageReader& reader, uint64_t passedBefore) {
  if (reader.currentType() == kPartArchitecture) reader.nextPart();
  if (reader.currentType() == kPartDependencies) {
    if (reader.partLength() != 0) {
      reportBrokenPackage(package);
      return false;
    }
    reader.nextPart();
  }
  if (reader.currentType() != -1 || reader.partsPassedOver() != passedBefore ||
      !reader.endedCleanly()) {
    reportBrokenPackage(package);
    return false;
  }
  return true;
}

void stageInstallMarkers(const Package& package, ChangeSet& changes) {
  bool branding = package.name == kBrandingName;
  if (isBootImage(package) || branding) stageMarker(changes, paths::kUpgradedMarker);
  if (branding) stageMarker(changes, paths::kBrandingInstalled);
}

// Copies the current entry's data into `out`; false after a reported
// failure. A file system that runs out of room beside the target (it may
// keep blocks it counts as free) gives the file to "/ram" instead.
bool copyEntryData(const Package& package, const ContentEntry& entry, ContentWalker& walker,
                   ChangeSet& changes, const std::string& target, StagedFile& out) {
  char piece[kCopyPiece];
  while (walker.dataUnread() > 0) {
    size_t n = std::min<size_t>(walker.dataUnread(), sizeof piece);
    if (!walker.readData(piece, n)) {
      reportBrokenPackage(package);
      return false;
    }
    bool written = out.write(piece, n);
    if (!written && (errno == ENOSPC || errno == EDQUOT) && changes.restageInRam(target, out)) {
      written = out.write(piece, n);
    }
    if (!written) {
      reportCreateFailure(package, entry.path);
      return false;
    }
  }
  return true;
}

// True when every component of `path` fits the system's name limit.
bool componentsFit(const std::string& path) {
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end - start > kMaxNameComponent) return false;
    start = end + 1;
  }
  return true;
}

bool extractEntry(Package& package, const ContentEntry& entry, ContentWalker& walker,
                  ChangeSet& changes, bool boundBySpace) {
  // Checked before anything is staged: the staged file sits next to its
  // target, so an unsafe path must not even reach the staging. A path the
  // system could never create is broken as well.
  std::string target = targetPath(package, entry.path);
  if (!isSafeEntryPath(entry.path) || target.size() > kMaxTargetPath || !componentsFit(target)) {
    reportBrokenPackage(package);
    return false;
  }
  // A sound package may be too large for this router: it is the disk that
  // is too small, whichever file system would have to hold the file.
  if (boundBySpace && changes.stagingWouldExhaust(target, entry.dataLength, kStagingReserve)) {
    errno = ENOSPC;
    reportCreateFailure(package, entry.path);
    return false;
  }
  StagedFile out;
  changes.openStagedFile(out, target, entry.dataLength, entry.mode & 07777);
  if (!out.isOpen()) {
    reportCreateFailure(package, entry.path);
    return false;
  }
  package.files.insert(target);
  if (!copyEntryData(package, entry, walker, changes, target, out)) return false;
  if (!out.close()) {
    reportCreateFailure(package, entry.path);
    return false;
  }
  return true;
}

// Everything after the admission: replacement, content, signature,
// database entry and markers. False after a failure; an unusable database
// directory is the one failure left unreported.
bool installContent(PackageDb& db, PackageReader& reader, ChangeSet& changes, Package& package,
                    bool standalone, bool boundBySpace) {
  bool recorded = recordedInDatabase(reader);
  if (recorded) {
    if (Package* replaced = db.find(package.name)) {
      replaced->stageRemoval(changes);
      db.remove(replaced);
    }
  }
  showInstallProgress(package, reader);
  if (recorded && !prepareDatabaseDir(package, changes)) return false;
  if (reader.currentType() == kPartSquashfsImage) passOverImage(package, reader);
  if (reader.currentType() == kPartFileContainer &&
      !installFileTree(package, reader, changes, boundBySpace)) {
    return false;
  }
  uint64_t passedBefore = reader.partsPassedOver();
  if (!verifySignature(package, reader)) return false;
  if (standalone && !endsAfterSignature(package, reader, passedBefore)) return false;
  if (recorded && !writeDatabaseEntry(package, changes)) return false;
  stageInstallMarkers(package, changes);
  return true;
}

bool stillInstalled(const PackageDb& db, const Package* package) {
  return std::find(db.packages.begin(), db.packages.end(), package) != db.packages.end();
}

}  // namespace

Package* installPackage(PackageDb& db, PackageReader& reader, ChangeSet& changes, unsigned options,
                        const StateMap& stateMap, const PackageRef* bundleRef,
                        std::string* dbDirOut, bool* bootOut, SignatureKnown signature) {
  std::unique_ptr<Package> package(new Package());
  if (!readPackageHeader(*package, reader)) return nullptr;
  bool member = bundleRef != nullptr;
  if (!isSafePackageName(package->name)) {
    // A member is reported under its bundle's name, as every member failure.
    if (member) package->bundle = *bundleRef;
    reportBrokenPackage(*package);
    return nullptr;
  }
  if (member && package->name == bundleRef->name) return nullptr;
  if (package->name == kSystemName && (package->version >> 24) <= kLastConvertingMajor) {
    createConvertMarker();
  }
  uint32_t flags = admissionFlags(db, *package, options, member);
  applyEnableState(*package, stateMap, &flags);
  if (flags & (~options | SameAsInstalled)) {
    return refuse(db, reader, *package, flags, options, member, bootOut);
  }
  if (member) package->bundle = *bundleRef;
  // The scan found the signature false: broken, as the check after the
  // content would find, only with nothing staged.
  if (signature == SignatureKnown::kInvalid) {
    reportBrokenPackage(*package);
    return nullptr;
  }
  if (!installContent(db, reader, changes, *package, !member,
                      signature == SignatureKnown::kNotYet)) {
    return nullptr;
  }
  if (!member) showProgress(std::string());
  bool boot = isBootImage(*package) && bootImageVariableSet();
  // Only a package that was verified and staged gets its file kept as the
  // entry's image: a refused one (already installed, say) must never
  // replace the image of the installed package with an unchecked file. An
  // unrecorded package gets no entry, so its image has none to go to.
  if (package->squashfsImage && dbDirOut && recordedInDatabase(reader)) {
    *dbDirOut = databaseDir(*package);
  }
  Package* installed = package.release();
  db.packages.push_back(installed);
  // What the new package needs, or forbids, is staged with it.
  db.applySchedule(changes, false);
  if (bootOut) *bootOut = boot;
  // The schedule may have taken the new record away again.
  return stillInstalled(db, installed) ? installed : nullptr;
}

bool extractFiles(Package& package, PackageReader& reader, ChangeSet& changes,
                  bool boundBySpace) {
  ContentWalker walker(reader);
  ContentEntry entry;
  WalkStep step;
  size_t entries = 0;
  size_t pathBytes = 0;
  while ((step = walker.next(&entry)) == WalkStep::kEntry) {
    if (++entries > kMaxTreeEntries) {
      reportBrokenPackage(package);
      return false;
    }
    if (!entry.extracted()) continue;
    pathBytes += entry.path.size();
    if (pathBytes > kMaxTreePathBytes) {
      reportBrokenPackage(package);
      return false;
    }
    if (!extractEntry(package, entry, walker, changes, boundBySpace)) return false;
    showInstallProgress(package, reader);
  }
  if (step == WalkStep::kBroken) {
    reportBrokenPackage(package);
    return false;
  }
  return true;
}

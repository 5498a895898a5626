// Installation of one package from a package stream into the run's change
// set: header, admission, replacement of an installed package of the same
// name, the file tree, the signature, the database entry and the marker
// files an installation leaves. Nothing reaches the installed system before
// the change set is applied, except the marker "/rw/CONVERT", which is
// created at once for a "system" package of major version 6 or less.
//
// Target of an extracted file: "/flash", then "/x/" and the package name
// when the package is installed disabled, then "/" unless the entry path
// begins with one, then the entry path. Packages whose name or entry paths
// could leave those directories are refused as broken (safe_names.h).
#ifndef DRIVER_CONTENT_INSTALL_H_
#define DRIVER_CONTENT_INSTALL_H_

#include <map>
#include <string>

class ChangeSet;
class Package;
class PackageDb;
class PackageReader;
struct PackageRef;

// What the caller knows of a package's signature before its content is
// read. Content that is not yet verified can only be staged within bounds
// (free space of the staging file system).
enum class SignatureKnown {
  kNotYet,   // the stream run: the signature follows the content
  kValid,    // the install run's scan verified it
  kInvalid,  // the scan refused it: the package is broken
};

// Bounds on a file tree, checked before its entries are staged. Far above
// what real packages hold; a path longer than the system's limit, or with
// a component longer than its name limit, could never be installed.
const size_t kMaxTreeEntries = 100000;
// The paths of the files staged from one tree, all together: what the
// change set must hold in memory until the commit.
const size_t kMaxTreePathBytes = 16u << 20;
const size_t kMaxTargetPath = 4095;     // PATH_MAX less its terminator
const size_t kMaxNameComponent = 255;   // NAME_MAX
// Free space a staged file must leave on its file system while the
// package is not yet verified: the reserve of the disk-space check.
const uint64_t kStagingReserve = 32768;

// Enable states chosen earlier by the user, by package name: true means
// disabled. A new version of a package named here takes the choice over.
typedef std::map<std::string, bool> StateMap;

// Installs the package whose header part is the reader's current part.
// REQUIRES: the reader was made with the digest on and its wanted types
// include 1, 3, 4, 9, 16, 17, 19 and 21.
//
// `options` holds InstallOptions bits. `bundleRef` names the bundle when
// the package is a bundle member (null otherwise); a member's admission
// prints nothing and a refused member's parts are passed over up to the
// next member. `dbDirOut` (may be null) receives the package's database
// directory when the package was installed, carries a squashfs image and
// is recorded in the database; `bootOut` (may be null) tells whether the package is the
// boot image while "bootimage" is set in the environment, which keeps its
// file tree unextracted.
//
// `signature` says what is known of the package's signature: kInvalid
// refuses the package as broken once it is admitted, before anything is
// staged; kNotYet bounds the staging by free space. The signature is
// checked after the content in every case.
//
// Returns the installed package, owned by `db`: the new record, appended
// to db.packages, or the one already installed when nothing had to be done
// (a reinstall refused or not needed, a bundle member refused). Returns null
// on failure or refusal, with the messages printed. After a failure the
// change set holds what was staged so far (including the removal of a
// replaced package, whose record is gone); the caller cancels it.
Package* installPackage(PackageDb& db, PackageReader& reader, ChangeSet& changes, unsigned options,
                        const StateMap& stateMap, const PackageRef* bundleRef,
                        std::string* dbDirOut, bool* bootOut,
                        SignatureKnown signature = SignatureKnown::kNotYet);

// Stages every regular file of the file tree in the reader's current part
// (type 4) for `package` and adds its target to package.files. False after
// a reported failure (broken tree, unsafe path, a bound above passed,
// staged file not created, written or closed); the files staged before it
// stay in the change set. `boundBySpace` refuses a file that would leave
// its staging file system with less than kStagingReserve free.
bool extractFiles(Package& package, PackageReader& reader, ChangeSet& changes,
                  bool boundBySpace = false);

#endif  // DRIVER_CONTENT_INSTALL_H_

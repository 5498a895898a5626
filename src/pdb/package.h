// In-memory package records: the packed version number, references to
// other packages, what a package header declares (PackageInfo) and an
// installed package (Package), with the pure relations between them.
// Nothing here touches the file system.
#ifndef PDB_PACKAGE_H_
#define PDB_PACKAGE_H_

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "pdb/path_set.h"

class ChangeSet;

// Packed version: major (bits 31..24), minor (23..16), kind (15..8:
// 'a' alpha, 'b' beta, 'c' release candidate, 'f' final; up to 0x60 means
// no kind and bits 15..0 are one build number), build (7..0). Ordered as a
// plain unsigned number. 0 means "not read" in a record, "no bound" in a
// PackageRef.
typedef uint32_t PackageVersion;

// Text form of a version, such as "7.1", "7.1rc2", "7.1.5" or "7.1_ab5".
// At most 79 characters.
std::string versionText(PackageVersion version);

// One entry of a dependency, provides or conflicts list, or the reference
// from a package to the bundle it came from. Bounds are inclusive; 0 means
// unbounded. `priority` matters in provides entries only.
struct PackageRef {
  std::string name;
  PackageVersion minVersion = 0;
  PackageVersion maxVersion = 0;
  int32_t priority = 0;

  PackageRef() = default;
  PackageRef(const std::string& refName, PackageVersion minV, PackageVersion maxV, int32_t prio = 0)
      : name(refName), minVersion(minV), maxVersion(maxV), priority(prio) {}
};

// What a package or bundle header declares. A bare PackageInfo stands for
// one member header inside a candidate bundle file.
class PackageInfo {
 public:
  static const uint32_t bootImageFlag = 0x1;
  static const uint32_t noMetaFlag = 0x2;

  explicit PackageInfo(const std::string& packageName = std::string()) : name(packageName) {}
  virtual ~PackageInfo() = default;

  // True when this record matches `requirement` by its own name and version.
  bool satisfies(const PackageRef& requirement) const;
  // True when one of this record's provides entries overlaps `requirement`.
  bool providesFor(const PackageRef& requirement) const;
  // True when this record (or a member) requires `other` (or a member).
  bool dependsOn(const PackageInfo& other) const;
  // True when this record, taken as installed, forbids `other`.
  bool conflictsWith(const PackageInfo& other) const;
  // True when the record or one of its members bears `packageName`.
  bool hasName(const std::string& packageName) const;
  // Version and build time both 0xFFFFFFFF.
  bool isAllOnes() const;
  // Whether the router's device mode permits installing this record. Only
  // a package named exactly "system" is ever restricted.
  bool allowedByDeviceMode() const;

  std::string name;
  PackageVersion version = 0;
  uint32_t buildTime = 0;
  uint32_t headerFlags = 0;
  std::string attribute24;
  std::string architecture;
  std::string attribute2;
  std::string note;
  bool squashfsImage = false;
  std::vector<PackageRef> depends;
  std::vector<PackageRef> provides;
  std::vector<PackageRef> conflicts;
  bool isBundle = false;
  // Member headers of a candidate bundle file, in file order. Not owned.
  std::vector<PackageInfo*> members;
};

// -1 when `a` is older than `b`, +1 when newer, 0 when the same or unrelated.
// A bundle is compared through its member that bears the other's name.
int comparePackages(const PackageInfo& a, const PackageInfo& b);

enum PackageAction { kActionNone = 0, kActionUninstall = 1, kActionEnable = 2, kActionDisable = 3 };

// The word for an action as the schedule file and messages spell it.
const char* actionWord(int action);

// An installed package as the database knows it.
class Package : public PackageInfo {
 public:
  explicit Package(const std::string& packageName = std::string()) : PackageInfo(packageName) {}

  // Completes the record from its database entry (descriptive files only
  // when no image described it, then the enabled state) and from its
  // schedule file under "/ram/pdb/".
  void loadState();
  // Stages the removal of the package's files, database entry and kept
  // image, and empties `files`. Recorded files that are not removable
  // (isRemovableInstalledPath) are passed over with a warning.
  void stageRemoval(ChangeSet& changes);
  // Stages the state files of an enabled package and clears `disabled`
  // and `action`.
  void writeEnabledState(ChangeSet& changes);

  // Paths of the installed files, each beginning with "/", relative to
  // the root; ordered byte-wise.
  PathSet files;
  // The bundle this package came from; empty name = none.
  PackageRef bundle;
  bool disabled = false;
  // The enabled or disabled state was the user's choice, not automatic.
  bool userChoice = false;
  // Action scheduled for this run (PackageAction).
  int32_t action = kActionNone;
};

// True for a path an installation can have recorded: below "/flash/"
// and without a ".." component.
bool isRemovableInstalledPath(const std::string& path);

#endif  // PDB_PACKAGE_H_

#include "pdb/package.h"

#include <stdio.h>

#include <map>

#include "platform/nv.h"

namespace {

const uint32_t kAllOnes = 0xFFFFFFFFu;

// Version, then build time; unsigned.
int compareSameName(const PackageInfo& a, const PackageInfo& b) {
  if (a.version != b.version) return a.version > b.version ? 1 : -1;
  if (a.buildTime != b.buildTime) return a.buildTime > b.buildTime ? 1 : -1;
  return 0;
}

const PackageInfo* memberNamed(const PackageInfo& bundle, const std::string& name) {
  for (const PackageInfo* member : bundle.members) {
    if (member->name == name) return member;
  }
  return nullptr;
}

}  // namespace

std::string versionText(PackageVersion version) { return version2string(version); }

namespace {

// A provides list looked up by name: through an index when the lookups
// would otherwise cost the product of two long lists (a list holds up to
// 65,535 entries), by a plain scan when both are short.
class ProvidedNames {
 public:
  ProvidedNames(const std::vector<PackageRef>& list, size_t lookups) : list_(list) {
    if (list.size() * lookups <= kScanLimit) return;
    for (const PackageRef& entry : list) byName_[entry.name].push_back(&entry);
    indexed_ = true;
  }

  // The first entry of the list with `name`, or null.
  const PackageRef* firstNamed(const std::string& name) const {
    if (!indexed_) {
      for (const PackageRef& entry : list_) {
        if (entry.name == name) return &entry;
      }
      return nullptr;
    }
    auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second.front();
  }

  // PackageInfo::providesFor over the list.
  bool providesFor(const PackageRef& requirement) const {
    if (!indexed_) {
      for (const PackageRef& entry : list_) {
        if (offers(entry, requirement)) return true;
      }
      return false;
    }
    auto found = byName_.find(requirement.name);
    if (found == byName_.end()) return false;
    for (const PackageRef* entry : found->second) {
      if (offers(*entry, requirement)) return true;
    }
    return false;
  }

  static bool offers(const PackageRef& entry, const PackageRef& requirement) {
    if (entry.name != requirement.name) return false;
    // 0 leaves a range open on that side.
    if (entry.minVersion != 0 && requirement.maxVersion != 0 &&
        entry.minVersion > requirement.maxVersion) {
      return false;
    }
    return entry.maxVersion == 0 || entry.maxVersion >= requirement.minVersion;
  }

 private:
  static const size_t kScanLimit = 4096;
  const std::vector<PackageRef>& list_;
  std::map<std::string, std::vector<const PackageRef*>> byName_;
  bool indexed_ = false;
};

}  // namespace

bool PackageInfo::satisfies(const PackageRef& requirement) const {
  if (name != requirement.name) return false;
  if (version < requirement.minVersion) return false;
  return requirement.maxVersion == 0 || version <= requirement.maxVersion;
}

bool PackageInfo::providesFor(const PackageRef& requirement) const {
  return ProvidedNames(provides, 1).providesFor(requirement);
}

bool PackageInfo::dependsOn(const PackageInfo& other) const {
  for (const PackageRef& requirement : depends) {
    if (other.satisfies(requirement) || other.providesFor(requirement)) return true;
  }
  for (const PackageInfo* member : other.members) {
    if (dependsOn(*member)) return true;
  }
  for (const PackageInfo* member : members) {
    if (member->dependsOn(other)) return true;
  }
  return false;
}

bool PackageInfo::conflictsWith(const PackageInfo& other) const {
  if (isAllOnes() || other.isAllOnes()) return false;
  for (const PackageRef& conflict : conflicts) {
    if (other.satisfies(conflict)) return true;
  }
  // A newcomer that provides our own name may take our place, unless its
  // negative priority says it gives way to us.
  for (const PackageRef& offered : other.provides) {
    if (offered.name == name) return offered.priority < 0;
  }
  ProvidedNames theirs(other.provides, provides.size() + conflicts.size());
  for (const PackageRef& ours : provides) {
    if (ours.name == other.name) return ours.priority >= 0;
    if (const PackageRef* first = theirs.firstNamed(ours.name)) return ours.priority > first->priority;
  }
  for (const PackageRef& conflict : conflicts) {
    if (theirs.providesFor(conflict)) return true;
  }
  if (memberNamed(other, name) != nullptr) return true;
  for (const PackageInfo* member : members) {
    if (member->conflictsWith(other)) return true;
  }
  return false;
}

bool PackageInfo::hasName(const std::string& packageName) const {
  return name == packageName || memberNamed(*this, packageName) != nullptr;
}

bool PackageInfo::isAllOnes() const { return version == kAllOnes && buildTime == kAllOnes; }

int comparePackages(const PackageInfo& a, const PackageInfo& b) {
  if (a.name == b.name) return compareSameName(a, b);
  if (const PackageInfo* member = memberNamed(a, b.name)) return compareSameName(*member, b);
  if (const PackageInfo* member = memberNamed(b, a.name)) return compareSameName(a, *member);
  return 0;
}

const char* actionWord(int action) {
  static const char* const kWords[] = {"", "uninstall", "enable", "disable"};
  if (action < 0 || action >= static_cast<int>(sizeof kWords / sizeof kWords[0])) return "";
  return kWords[action];
}

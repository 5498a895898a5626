#include "pdb/display_name.h"

#include "console/console.h"

std::string displayName(const PackageInfo& package) {
  return package.name + "-" + versionText(package.version);
}

std::string refDisplayName(const PackageRef& ref) {
  if (ref.minVersion == 0) return ref.name;
  return ref.name + "-" + versionText(ref.minVersion);
}

std::string progressName(const Package& package) {
  if (!package.bundle.name.empty()) return refDisplayName(package.bundle);
  return displayName(package);
}

void reportCreateFailure(const Package& package, const std::string& path) {
  reportCreateFailure(progressName(package), path);
}

void reportBrokenPackage(const Package& package) { reportBrokenPackage(progressName(package)); }

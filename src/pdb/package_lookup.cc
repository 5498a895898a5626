// Name and relation lookups over the installed packages.
#include <algorithm>

#include "pdb/package_db.h"

int PackageDb::indexOf(const std::string& name) const {
  for (size_t i = 0; i < packages.size(); ++i) {
    if (packages[i]->name == name) return static_cast<int>(i);
  }
  return -1;
}

Package* PackageDb::find(const std::string& name) const {
  int index = indexOf(name);
  return index < 0 ? nullptr : packages[index];
}

// An enabled package wins at once; among disabled ones the last seen is
// kept in case no enabled one turns up.
Package* PackageDb::findProvider(const std::string& name) const {
  const PackageRef anyVersion(name, 0, 0, 0);
  Package* found = nullptr;
  for (Package* package : packages) {
    if (package->name != name && !package->providesFor(anyVersion)) continue;
    found = package;
    if (!package->disabled) break;
  }
  return found;
}

Package* PackageDb::findConflicting(const PackageInfo& candidate) const {
  for (Package* package : packages) {
    if (!package->disabled && package->conflictsWith(candidate)) return package;
  }
  return nullptr;
}

std::vector<Package*> PackageDb::providersOf(const PackageRef& ref) const {
  std::vector<Package*> providers;
  for (Package* package : packages) {
    if (package->isAllOnes()) continue;
    if (package->satisfies(ref) || package->providesFor(ref)) providers.push_back(package);
  }
  return providers;
}

bool PackageDb::detach(const Package* package) {
  auto position = std::find(packages.begin(), packages.end(), package);
  if (position == packages.end()) return false;
  packages.erase(position);
  return true;
}

// Only a record the database holds is destroyed: a pointer it does not
// own is left alone rather than freed twice.
void PackageDb::remove(Package* package) {
  if (detach(package)) delete package;
}

#include "resolve/name_index.h"

#include <algorithm>

NameIndex::NameIndex(const std::vector<Package*>& packages) : packages_(packages) {
  for (size_t i = 0; i < packages.size(); ++i) {
    const Package& package = *packages[i];
    firstByName_.emplace(package.name, packages[i]);
    add(package.name, i);
    for (const PackageRef& ref : package.provides) add(ref.name, i);
    for (const PackageRef& ref : package.conflicts) add(ref.name, i);
  }
}

Package* NameIndex::first(const std::string& name) const {
  auto found = firstByName_.find(name);
  return found == firstByName_.end() ? nullptr : found->second;
}

// A record answers to `ref` only under its own name or a provided one, so
// the records filed under `ref.name` are the only ones to test.
std::vector<Package*> NameIndex::providersOf(const PackageRef& ref) const {
  std::vector<Package*> providers;
  auto found = byName_.find(ref.name);
  if (found == byName_.end()) return providers;
  for (size_t position : found->second) {
    Package* package = packages_[position];
    if (package->isAllOnes()) continue;
    if (package->satisfies(ref) || package->providesFor(ref)) providers.push_back(package);
  }
  return providers;
}

std::vector<Package*> NameIndex::related(const Package& q) const {
  std::vector<size_t> positions;
  gather(q.name, &positions);
  for (const PackageRef& ref : q.provides) gather(ref.name, &positions);
  for (const PackageRef& ref : q.conflicts) gather(ref.name, &positions);
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  std::vector<Package*> records;
  for (size_t position : positions) records.push_back(packages_[position]);
  return records;
}

void NameIndex::add(const std::string& name, size_t position) {
  std::vector<size_t>& list = byName_[name];
  if (list.empty() || list.back() != position) list.push_back(position);
}

void NameIndex::gather(const std::string& name, std::vector<size_t>* positions) const {
  auto found = byName_.find(name);
  if (found != byName_.end()) {
    positions->insert(positions->end(), found->second.begin(), found->second.end());
  }
}

#include "pdb/path_set.h"

#include <algorithm>

PathSet::PathSet(const PathSet& other) {
  for (const std::string& path : other) insert(path);
}

PathSet& PathSet::operator=(const PathSet& other) {
  if (this != &other) {
    PathSet copy(other);
    *this = std::move(copy);
  }
  return *this;
}

PathSet::PathSet(std::initializer_list<std::string> paths) {
  for (const std::string& path : paths) insert(path);
}

PathSet& PathSet::operator=(std::initializer_list<std::string> paths) {
  clear();
  for (const std::string& path : paths) insert(path);
  return *this;
}

void PathSet::insert(const std::string& path) {
  PathArena::Ref ref = bytes_.add(path);
  if (ref == PathArena::kNone) return;  // far beyond any bound
  // Paths that arrive in order, as a files file holds them, stay in order.
  if (ordered_ && !refs_.empty() && !(bytes_.at(refs_.back()) < bytes_.at(ref))) ordered_ = false;
  refs_.push_back(ref);
}

void PathSet::clear() {
  bytes_.clear();
  std::vector<PathArena::Ref>().swap(refs_);
  ordered_ = true;
}

size_t PathSet::size() const {
  normalize();
  return refs_.size();
}

PathSet::const_iterator PathSet::begin() const {
  normalize();
  return const_iterator(this, 0);
}

PathSet::const_iterator PathSet::end() const {
  normalize();
  return const_iterator(this, refs_.size());
}

void PathSet::normalize() const {
  if (ordered_) return;
  auto less = [this](PathArena::Ref a, PathArena::Ref b) { return bytes_.at(a) < bytes_.at(b); };
  auto same = [this](PathArena::Ref a, PathArena::Ref b) { return bytes_.at(a) == bytes_.at(b); };
  // Stable, so that of repeated paths the first one added stays.
  std::stable_sort(refs_.begin(), refs_.end(), less);
  refs_.erase(std::unique(refs_.begin(), refs_.end(), same), refs_.end());
  ordered_ = true;
}

std::string PathSet::at(size_t index) const {
  std::string_view path = bytes_.at(refs_[index]);
  return std::string(path.data(), path.size());
}

#include "pdb/path_set.h"

#include <string.h>

#include <algorithm>

PathSet::PathSet(std::initializer_list<std::string> paths) {
  for (const std::string& path : paths) insert(path);
}

PathSet& PathSet::operator=(std::initializer_list<std::string> paths) {
  clear();
  for (const std::string& path : paths) insert(path);
  return *this;
}

void PathSet::insert(const std::string& path) {
  if (bytes_.size() > UINT32_MAX - path.size()) return;  // far beyond any bound
  Span span{static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(path.size())};
  bytes_ += path;
  // Paths that arrive in order, as a files file holds them, stay in order.
  if (ordered_ && !spans_.empty() && !less(spans_.back(), span)) ordered_ = false;
  spans_.push_back(span);
}

void PathSet::clear() {
  std::string().swap(bytes_);
  std::vector<Span>().swap(spans_);
  ordered_ = true;
}

size_t PathSet::size() const {
  normalize();
  return spans_.size();
}

PathSet::const_iterator PathSet::begin() const {
  normalize();
  return const_iterator(this, 0);
}

PathSet::const_iterator PathSet::end() const {
  normalize();
  return const_iterator(this, spans_.size());
}

bool PathSet::less(const Span& a, const Span& b) const {
  int order = memcmp(bytes_.data() + a.offset, bytes_.data() + b.offset, std::min(a.length, b.length));
  return order < 0 || (order == 0 && a.length < b.length);
}

bool PathSet::same(const Span& a, const Span& b) const {
  return a.length == b.length && memcmp(bytes_.data() + a.offset, bytes_.data() + b.offset, a.length) == 0;
}

void PathSet::normalize() const {
  if (ordered_) return;
  // Stable, so that of repeated paths the first one added stays.
  std::stable_sort(spans_.begin(), spans_.end(), [this](const Span& a, const Span& b) { return less(a, b); });
  spans_.erase(std::unique(spans_.begin(), spans_.end(), [this](const Span& a, const Span& b) { return same(a, b); }),
               spans_.end());
  ordered_ = true;
}

std::string PathSet::at(size_t index) const {
  const Span& span = spans_[index];
  return bytes_.substr(span.offset, span.length);
}

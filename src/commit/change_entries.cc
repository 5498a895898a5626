#include "commit/change_entries.h"

#include <stdlib.h>

#include <algorithm>

namespace {

// FNV-1a: the same index on every byte order and word size.
uint32_t hashOf(std::string_view text, uint32_t hash = 2166136261u) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

// Byte-wise order of two paths given in two pieces each, as their
// concatenations compare.
int comparePieces(std::string_view a0, std::string_view a1, std::string_view b0, std::string_view b1) {
  std::string_view a[2] = {a0, a1};
  std::string_view b[2] = {b0, b1};
  size_t i = 0, j = 0;
  for (;;) {
    while (i < 2 && a[i].empty()) ++i;
    while (j < 2 && b[j].empty()) ++j;
    if (i == 2 || j == 2) return i == j ? 0 : i == 2 ? -1 : 1;
    size_t n = std::min(a[i].size(), b[j].size());
    int order = a[i].substr(0, n).compare(b[j].substr(0, n));
    if (order != 0) return order;
    a[i].remove_prefix(n);
    b[j].remove_prefix(n);
  }
}

// Storage the installer cannot do without: like a failed allocation.
PathArena::Ref checked(PathArena::Ref ref) {
  if (ref == PathArena::kNone) abort();
  return ref;
}

}  // namespace

ChangeEntries::const_iterator::reference ChangeEntries::const_iterator::operator*() const {
  if (!loaded_) {
    const Slot& s = owner_->slot(owner_->order_[position_]);
    Split target = owner_->targetOf(s);
    value_.first.assign(target.directory.data(), target.directory.size());
    value_.first.append(target.name.data(), target.name.size());
    owner_->loadAction(s, &value_.second);
    loaded_ = true;
  }
  return value_;
}

ChangeEntries::ChangeEntries(const ChangeEntries& other) {
  for (uint32_t i = 0; i < other.slotCount_; ++i) {
    const Slot& s = other.slot(i);
    if (s.live) put(other.targetText(s), other.actionOf(s));
  }
}

ChangeEntries& ChangeEntries::operator=(const ChangeEntries& other) {
  if (this != &other) {
    ChangeEntries copy(other);
    *this = std::move(copy);
  }
  return *this;
}

bool ChangeEntries::put(std::string_view target, const ChangeAction& action, ChangeAction* replaced) {
  // Grown first, so that one probe finds the entry or the place for it.
  if ((live_ + 1) * 4 > index_.size() * 3) growIndex();
  uint32_t hash = 0;
  size_t at = probe(target, &hash);
  if (index_[at] != 0) {
    Slot& s = slot(slotIn(index_[at]));
    if (replaced) loadAction(s, replaced);
    if (s.source != PathArena::kNone) droppedBytes_ += arena_.at(s.source).size() + 1;
    fill(&s, action);
    compactIfWasteful();
    return true;
  }
  if (slotCount_ == kIndexSlotMask - 1) abort();
  if (slotCount_ == slots_.size() * kSlotsPerBlock) slots_.emplace_back(new Slot[kSlotsPerBlock]);
  Slot& s = slot(slotCount_);
  s.target = store(target, &s.targetDirectory);
  s.live = 1;
  fill(&s, action);
  index_[at] = indexEntry(slotCount_++, hash);
  ++live_;
  ordered_ = false;
  return false;
}

bool ChangeEntries::erase(std::string_view target) {
  if (index_.empty()) return false;
  size_t at = probe(target);
  if (index_[at] == 0) return false;
  Slot& s = slot(slotIn(index_[at]));
  s.live = 0;
  if (s.target != PathArena::kNone) droppedBytes_ += arena_.at(s.target).size() + 1;
  if (s.source != PathArena::kNone) droppedBytes_ += arena_.at(s.source).size() + 1;
  removeIndex(at);
  --live_;
  ordered_ = false;
  droppedSinceSort_ = true;
  compactIfWasteful();
  return true;
}

void ChangeEntries::clear() { *this = ChangeEntries(); }

bool ChangeEntries::lookup(std::string_view target, ChangeAction* action) const {
  uint32_t found = slotOf(target);
  if (found == kNoSlot) return false;
  loadAction(slot(found), action);
  return true;
}

ChangeAction ChangeEntries::at(std::string_view target) const {
  ChangeAction action;
  lookup(target, &action);
  return action;
}

ChangeEntries::const_iterator ChangeEntries::find(std::string_view target) const {
  if (slotOf(target) == kNoSlot) return end();
  sort();
  auto found = std::lower_bound(order_.begin(), order_.end(), target, [this](uint32_t s, std::string_view t) {
    Split held = targetOf(slot(s));
    return comparePieces(held.directory, held.name, t, std::string_view()) < 0;
  });
  return const_iterator(this, static_cast<size_t>(found - order_.begin()));
}

ChangeEntries::const_iterator ChangeEntries::begin() const {
  sort();
  return const_iterator(this, 0);
}

ChangeEntries::const_iterator ChangeEntries::end() const { return const_iterator(this, live_); }

ChangeEntries::Split ChangeEntries::splitOf(uint16_t directory, PathArena::Ref rest) const {
  Split split;
  if (directory != 0) split.directory = arena_.at(directories_[directory - 1]);
  if (rest != PathArena::kNone) split.name = arena_.at(rest);
  return split;
}

std::string ChangeEntries::targetText(const Slot& s) const {
  Split target = targetOf(s);
  std::string text(target.directory);
  text.append(target.name.data(), target.name.size());
  return text;
}

ChangeAction ChangeEntries::actionOf(const Slot& s) const {
  ChangeAction action;
  loadAction(s, &action);
  return action;
}

void ChangeEntries::loadAction(const Slot& s, ChangeAction* action) const {
  Split source = splitOf(s.sourceDirectory, s.source);
  action->kind = static_cast<ChangeKind>(s.kind);
  action->source.assign(source.directory.data(), source.directory.size());
  action->source.append(source.name.data(), source.name.size());
  action->sourceDeviceKnown = s.device != 0;
  action->sourceDevice = s.device != 0 ? devices_[s.device - 1] : 0;
}

PathArena::Ref ChangeEntries::store(std::string_view path, uint16_t* directory) {
  *directory = 0;
  size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) {
    *directory = directoryNumber(path.substr(0, slash + 1));
    if (*directory != 0) path.remove_prefix(slash + 1);
  }
  return path.empty() ? PathArena::kNone : checked(arena_.add(path));
}

void ChangeEntries::fill(Slot* s, const ChangeAction& action) {
  s->kind = static_cast<uint8_t>(action.kind);
  s->source = store(action.source, &s->sourceDirectory);
  s->device = deviceNumber(action);
}

uint16_t ChangeEntries::directoryNumber(std::string_view directory) {
  auto known = directoryNumbers_.find(directory);
  if (known != directoryNumbers_.end()) return known->second;
  if (directories_.size() == kMaxDirectories) return 0;
  PathArena::Ref ref = checked(arena_.add(directory));
  directories_.push_back(ref);
  uint16_t number = static_cast<uint16_t>(directories_.size());
  directoryNumbers_.emplace(arena_.at(ref), number);
  return number;
}

uint16_t ChangeEntries::deviceNumber(const ChangeAction& action) {
  if (!action.sourceDeviceKnown) return 0;
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i] == action.sourceDevice) return static_cast<uint16_t>(i + 1);
  }
  // Unknown is safe: the commit then asks the system.
  if (devices_.size() == kMaxDevices) return 0;
  devices_.push_back(action.sourceDevice);
  return static_cast<uint16_t>(devices_.size());
}

uint32_t ChangeEntries::slotOf(std::string_view target) const {
  if (index_.empty()) return kNoSlot;
  uint32_t held = index_[probe(target)];
  return held == 0 ? kNoSlot : slotIn(held);
}

size_t ChangeEntries::probe(std::string_view target, uint32_t* hashOut) const {
  // Never full (at most three quarters), so an empty position ends the probe.
  size_t mask = index_.size() - 1;
  uint32_t hash = hashOf(target);
  if (hashOut) *hashOut = hash;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    uint32_t held = index_[at];
    if (held == 0) return at;
    if (((held ^ hash) & ~kIndexSlotMask) != 0) continue;
    Split stored = targetOf(slot(slotIn(held)));
    if (stored.directory.size() + stored.name.size() == target.size() &&
        target.compare(0, stored.directory.size(), stored.directory) == 0 &&
        target.compare(stored.directory.size(), stored.name.size(), stored.name) == 0) {
      return at;
    }
  }
}

uint32_t ChangeEntries::hashOfSlot(uint32_t slotIndex) const {
  Split target = targetOf(slot(slotIndex));
  return hashOf(target.name, hashOf(target.directory));
}

void ChangeEntries::insertIndex(uint32_t slotIndex) {
  // Only for targets known to be absent: no comparison needed.
  size_t mask = index_.size() - 1;
  uint32_t hash = hashOfSlot(slotIndex);
  size_t at = hash & mask;
  while (index_[at] != 0) at = (at + 1) & mask;
  index_[at] = indexEntry(slotIndex, hash);
}

void ChangeEntries::removeIndex(size_t hole) {
  // Backward shift: every later member of the run that may sit in the hole
  // moves up, so that no probe stops early at it.
  size_t mask = index_.size() - 1;
  index_[hole] = 0;
  for (size_t at = (hole + 1) & mask; index_[at] != 0; at = (at + 1) & mask) {
    size_t home = hashOfSlot(slotIn(index_[at])) & mask;
    if (((at - home) & mask) >= ((at - hole) & mask)) {
      index_[hole] = index_[at];
      index_[at] = 0;
      hole = at;
    }
  }
}

void ChangeEntries::growIndex() {
  std::vector<uint32_t>(std::max<size_t>(16, index_.size() * 2), 0).swap(index_);
  for (uint32_t i = 0; i < slotCount_; ++i) {
    if (slot(i).live) insertIndex(i);
  }
}

void ChangeEntries::compactIfWasteful() {
  size_t dropped = slotCount_ - live_;
  bool manyDropped = dropped > 1024 && dropped > live_;
  bool bytesWasted = droppedBytes_ > 65536 && droppedBytes_ > arena_.usedBytes() / 2;
  if (!manyDropped && !bytesWasted) return;
  ChangeEntries compact;
  for (uint32_t i = 0; i < slotCount_; ++i) {
    const Slot& s = slot(i);
    if (s.live) compact.put(targetText(s), actionOf(s));
  }
  *this = std::move(compact);
}

bool ChangeEntries::less(uint32_t a, uint32_t b) const {
  const Slot& x = slot(a);
  const Slot& y = slot(b);
  Split p = targetOf(x), q = targetOf(y);
  // Most neighbours share their directory.
  if (x.targetDirectory == y.targetDirectory) return p.name < q.name;
  return comparePieces(p.directory, p.name, q.directory, q.name) < 0;
}

void ChangeEntries::sort() const {
  if (ordered_) return;
  // The order of the last walk stays; what was added since is sorted on
  // its own and merged in (a marker or a database entry after the files).
  auto before = [this](uint32_t a, uint32_t b) { return less(a, b); };
  if (droppedSinceSort_) {
    order_.erase(std::remove_if(order_.begin(), order_.end(), [this](uint32_t s) { return !slot(s).live; }),
                 order_.end());
  }
  if (order_.capacity() < live_) {
    std::vector<uint32_t> grown;
    grown.reserve(live_ + (order_.empty() ? 0 : live_ / 64 + 16));
    grown.assign(order_.begin(), order_.end());
    order_.swap(grown);
  }
  size_t sorted = order_.size();
  for (uint32_t i = sortedSlots_; i < slotCount_; ++i) {
    if (slot(i).live) order_.push_back(i);
  }
  std::sort(order_.begin() + sorted, order_.end(), before);
  std::inplace_merge(order_.begin(), order_.begin() + sorted, order_.end(), before);
  sortedSlots_ = slotCount_;
  droppedSinceSort_ = false;
  ordered_ = true;
}

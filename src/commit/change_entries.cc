#include "commit/change_entries.h"

#include <stdlib.h>

#include <algorithm>

namespace {

// FNV-1a: the same index on every byte order and word size.
uint32_t hashOf(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
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
    std::string_view target = owner_->targetOf(s);
    value_.first.assign(target.data(), target.size());
    owner_->loadAction(s, &value_.second);
    loaded_ = true;
  }
  return value_;
}

ChangeEntries::ChangeEntries(const ChangeEntries& other) {
  for (uint32_t i = 0; i < other.slotCount_; ++i) {
    const Slot& s = other.slot(i);
    if (s.live) put(other.targetOf(s), other.actionOf(s));
  }
}

ChangeEntries& ChangeEntries::operator=(const ChangeEntries& other) {
  if (this != &other) {
    ChangeEntries copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void ChangeEntries::put(std::string_view target, const ChangeAction& action) {
  if (!index_.empty()) {
    size_t at = probe(target);
    if (index_[at] != 0) {
      Slot& s = slot(index_[at] - 1);
      if (s.source != PathArena::kNone) droppedBytes_ += arena_.at(s.source).size() + 1;
      fill(&s, action);
      compactIfWasteful();
      return;
    }
  }
  if (slotCount_ == UINT32_MAX) abort();
  if ((live_ + 1) * 4 > index_.size() * 3) growIndex();
  if (slotCount_ == slots_.size() * kSlotsPerBlock) slots_.emplace_back(new Slot[kSlotsPerBlock]);
  Slot& s = slot(slotCount_);
  s.target = checked(arena_.add(target));
  s.live = 1;
  fill(&s, action);
  insertIndex(slotCount_);
  ++slotCount_;
  ++live_;
  ordered_ = false;
}

bool ChangeEntries::erase(std::string_view target) {
  if (index_.empty()) return false;
  size_t at = probe(target);
  if (index_[at] == 0) return false;
  Slot& s = slot(index_[at] - 1);
  s.live = 0;
  droppedBytes_ += target.size() + 1;
  if (s.source != PathArena::kNone) droppedBytes_ += arena_.at(s.source).size() + 1;
  removeIndex(at);
  --live_;
  ordered_ = false;
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
  auto found = std::lower_bound(order_.begin(), order_.end(), target,
                                [this](uint32_t s, std::string_view t) { return targetOf(slot(s)) < t; });
  return const_iterator(this, static_cast<size_t>(found - order_.begin()));
}

ChangeEntries::const_iterator ChangeEntries::begin() const {
  sort();
  return const_iterator(this, 0);
}

ChangeEntries::const_iterator ChangeEntries::end() const { return const_iterator(this, live_); }

ChangeAction ChangeEntries::actionOf(const Slot& s) const {
  ChangeAction action;
  loadAction(s, &action);
  return action;
}

void ChangeEntries::loadAction(const Slot& s, ChangeAction* action) const {
  action->kind = static_cast<ChangeKind>(s.kind);
  if (s.directory != 0) {
    action->source.assign(directories_[s.directory - 1]);
  } else {
    action->source.clear();
  }
  if (s.source != PathArena::kNone) {
    std::string_view rest = arena_.at(s.source);
    action->source.append(rest.data(), rest.size());
  }
  action->sourceDeviceKnown = s.device != 0;
  action->sourceDevice = s.device != 0 ? devices_[s.device - 1] : 0;
}

void ChangeEntries::fill(Slot* s, const ChangeAction& action) {
  std::string_view source = action.source;
  s->kind = static_cast<uint8_t>(action.kind);
  s->directory = 0;
  size_t slash = source.rfind('/');
  if (slash != std::string_view::npos) {
    s->directory = directoryNumber(source.substr(0, slash + 1));
    if (s->directory != 0) source.remove_prefix(slash + 1);
  }
  s->source = source.empty() ? PathArena::kNone : checked(arena_.add(source));
  s->device = deviceNumber(action);
}

uint16_t ChangeEntries::directoryNumber(std::string_view directory) {
  // Staged files come one directory after another: the last one first.
  if (lastDirectory_ != 0 && directories_[lastDirectory_ - 1] == directory) return lastDirectory_;
  for (size_t i = 0; i < directories_.size(); ++i) {
    if (directories_[i] == directory) return lastDirectory_ = static_cast<uint16_t>(i + 1);
  }
  if (directories_.size() == kMaxSharedDirectories) return 0;
  directories_.emplace_back(directory);
  return lastDirectory_ = static_cast<uint16_t>(directories_.size());
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
  return held == 0 ? kNoSlot : held - 1;
}

size_t ChangeEntries::probe(std::string_view target) const {
  // Never full (at most three quarters), so an empty position ends the probe.
  size_t mask = index_.size() - 1;
  for (size_t at = hashOf(target) & mask;; at = (at + 1) & mask) {
    uint32_t held = index_[at];
    if (held == 0 || targetOf(slot(held - 1)) == target) return at;
  }
}

void ChangeEntries::insertIndex(uint32_t slotIndex) { index_[probe(targetOf(slot(slotIndex)))] = slotIndex + 1; }

void ChangeEntries::removeIndex(size_t hole) {
  // Backward shift: every later member of the run that may sit in the hole
  // moves up, so that no probe stops early at it.
  size_t mask = index_.size() - 1;
  index_[hole] = 0;
  for (size_t at = (hole + 1) & mask; index_[at] != 0; at = (at + 1) & mask) {
    size_t home = hashOf(targetOf(slot(index_[at] - 1))) & mask;
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
    if (s.live) compact.put(targetOf(s), actionOf(s));
  }
  *this = std::move(compact);
}

void ChangeEntries::sort() const {
  if (ordered_) return;
  std::vector<uint32_t>().swap(order_);
  order_.reserve(live_);
  for (uint32_t i = 0; i < slotCount_; ++i) {
    if (slot(i).live) order_.push_back(i);
  }
  std::sort(order_.begin(), order_.end(),
            [this](uint32_t a, uint32_t b) { return targetOf(slot(a)) < targetOf(slot(b)); });
  ordered_ = true;
}

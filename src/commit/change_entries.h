// The entries of a change set, a manifest and the commit journal: target
// path -> one ChangeAction, walked ascending byte-wise (a path sorts
// before the longer paths that begin with it), as a std::map of strings
// would walk them.
//
// Held for a package of 100,000 files on a router with little memory: the
// paths' bytes sit in one PathArena, each entry is a 16-byte record in the
// order it was first recorded, and a hash index of 4-byte slots finds a
// target. A target or source keeps only its last component beside the
// number of its directory, which is held once (up to 65,535 directories;
// paths in later ones are kept whole), and a source's device is a small
// number into a table. The walk's order is made only when the entries are
// walked after a change (one 4-byte index per entry), so a walk or a find
// through a const object may still sort it (the installer runs one
// thread). Dropped and replaced entries leave their bytes until they
// outweigh the live ones; then the storage is rebuilt. About 16 million
// records fit; more stop the program, as running out of memory would.
//
// The walk gives std::pair<std::string, ChangeAction> values made in the
// iterator: what *it refers to lives until the iterator moves or goes.
// Any change invalidates every iterator.
#ifndef COMMIT_CHANGE_ENTRIES_H_
#define COMMIT_CHANGE_ENTRIES_H_

#include <stddef.h>
#include <stdint.h>

#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "commit/change_action.h"
#include "commit/path_arena.h"

class ChangeEntries {
 public:
  typedef std::pair<std::string, ChangeAction> value_type;

  class const_iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef ChangeEntries::value_type value_type;
    typedef std::ptrdiff_t difference_type;
    typedef const value_type* pointer;
    typedef const value_type& reference;

    const_iterator() = default;
    reference operator*() const;
    pointer operator->() const { return &**this; }
    const_iterator& operator++() {
      ++position_;
      loaded_ = false;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return position_ == other.position_; }
    bool operator!=(const const_iterator& other) const { return position_ != other.position_; }

   private:
    friend class ChangeEntries;
    const_iterator(const ChangeEntries* owner, size_t position) : owner_(owner), position_(position) {}

    const ChangeEntries* owner_ = nullptr;
    size_t position_ = 0;
    mutable bool loaded_ = false;
    mutable value_type value_;
  };

  ChangeEntries() = default;
  ChangeEntries(ChangeEntries&&) = default;
  ChangeEntries& operator=(ChangeEntries&&) = default;
  ChangeEntries(const ChangeEntries& other);
  ChangeEntries& operator=(const ChangeEntries& other);

  // Records `action` for `target`, replacing the entry there was (true;
  // its action into *replaced unless that is null). The target keeps the
  // place in the order its path gives it.
  bool put(std::string_view target, const ChangeAction& action, ChangeAction* replaced = nullptr);
  // Drops the entry of `target`; false when there is none.
  bool erase(std::string_view target);
  void clear();

  // The action of `target` into *action; false when there is none. Asks
  // the hash index only: never sorts.
  bool lookup(std::string_view target, ChangeAction* action) const;
  size_t count(std::string_view target) const { return slotOf(target) != kNoSlot ? 1 : 0; }
  // REQUIRES: an entry for `target`.
  ChangeAction at(std::string_view target) const;
  // The entry of `target` in the walk, or end().
  const_iterator find(std::string_view target) const;

  bool empty() const { return live_ == 0; }
  size_t size() const { return live_; }
  const_iterator begin() const;
  const_iterator end() const;

 private:
  static constexpr uint32_t kNoSlot = UINT32_MAX;
  // An index entry: the top 8 bits of the target's hash, so that a probe
  // seldom compares paths, and 1 + the slot number below (0: empty).
  static constexpr uint32_t kIndexSlotMask = 0x00ffffff;
  static constexpr size_t kSlotsPerBlock = 4096;
  static constexpr size_t kMaxDirectories = 65535;
  static constexpr size_t kMaxDevices = 256;

  // A path as stored: its directory (up to the last "/"), then the rest.
  struct Split {
    std::string_view directory;
    std::string_view name;
  };

  // Paths are stored after their directory: kNone when nothing follows it.
  // Directory numbers: 0 none (the path is whole), else 1 + an index into
  // directories_.
  struct Slot {
    PathArena::Ref target;
    PathArena::Ref source;
    uint16_t targetDirectory;
    uint16_t sourceDirectory;
    uint16_t device;  // 0: unknown, else 1 + index into devices_
    uint8_t kind;
    uint8_t live;
  };

  Slot& slot(uint32_t index) { return slots_[index / kSlotsPerBlock][index % kSlotsPerBlock]; }
  const Slot& slot(uint32_t index) const { return slots_[index / kSlotsPerBlock][index % kSlotsPerBlock]; }
  Split splitOf(uint16_t directory, PathArena::Ref rest) const;
  Split targetOf(const Slot& s) const { return splitOf(s.targetDirectory, s.target); }
  std::string targetText(const Slot& s) const;
  ChangeAction actionOf(const Slot& s) const;
  void loadAction(const Slot& s, ChangeAction* action) const;
  // Stores `path` after its directory: the directory's number into
  // *directory, the reference of the rest returned.
  PathArena::Ref store(std::string_view path, uint16_t* directory);
  void fill(Slot* s, const ChangeAction& action);
  uint16_t directoryNumber(std::string_view directory);
  uint16_t deviceNumber(const ChangeAction& action);

  static uint32_t slotIn(uint32_t entry) { return (entry & kIndexSlotMask) - 1; }
  static uint32_t indexEntry(uint32_t slotIndex, uint32_t hash) {
    return (hash & ~kIndexSlotMask) | (slotIndex + 1);
  }
  uint32_t slotOf(std::string_view target) const;
  // The index position where `target` is or would go; its hash into
  // *hash unless that is null.
  size_t probe(std::string_view target, uint32_t* hash = nullptr) const;
  uint32_t hashOfSlot(uint32_t slotIndex) const;
  // REQUIRES: the target of `slotIndex` is not in the index.
  void insertIndex(uint32_t slotIndex);
  void removeIndex(size_t position);
  void growIndex();
  void compactIfWasteful();
  bool less(uint32_t a, uint32_t b) const;
  void sort() const;

  PathArena arena_;
  std::vector<std::unique_ptr<Slot[]>> slots_;
  uint32_t slotCount_ = 0;  // slots in use, live or dropped
  size_t live_ = 0;
  size_t droppedBytes_ = 0;  // arena bytes no live entry names
  std::vector<uint32_t> index_;  // 1 + slot number, 0 empty; linear probing
  std::vector<PathArena::Ref> directories_;
  std::unordered_map<std::string_view, uint16_t> directoryNumbers_;  // views into arena_
  std::vector<uint64_t> devices_;
  mutable std::vector<uint32_t> order_;  // slot numbers in walk order
  mutable bool ordered_ = true;
  mutable uint32_t sortedSlots_ = 0;  // slots below it are in order_ when live
  mutable bool droppedSinceSort_ = false;
};

#endif  // COMMIT_CHANGE_ENTRIES_H_

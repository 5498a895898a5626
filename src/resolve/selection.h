// Chooses which of several package records to act upon and in what order.
// Among records that carry the same package name (directly or as a bundle
// member) one is kept, normally the newest; under a downgrade limit records
// older than the limit are dropped and the oldest remaining one is
// preferred. The survivors are ordered so that a package comes after the
// packages it depends on and after those that conflict with it. Records
// are only read, never changed.
#ifndef RESOLVE_SELECTION_H_
#define RESOLVE_SELECTION_H_

#include <stddef.h>

#include <utility>
#include <vector>

#include "pdb/package.h"

class PackageDb;

// The value of `downgradeLimit` that means no limit.
const PackageVersion kNoDowngradeLimit = 0xFFFFFFFFu;

// Positions in `list` of the surviving records, in their new order.
// Messages go to `db`'s console: "ommitting package %s: not allowed" for a
// record below the limit always, the "already provided" warnings only when
// `verbose`.
// REQUIRES: no element of `list` is null.
std::vector<size_t> selectionOrder(PackageDb& db, const std::vector<const PackageInfo*>& list,
                                   PackageVersion downgradeLimit, bool verbose);

// Filters and orders `list` in place as selectionOrder says. `Pointer` is
// a raw pointer or a std::unique_ptr to a PackageInfo or a class derived
// from it. Dropped raw pointers are only removed from the list; dropped
// unique_ptr elements are destroyed.
template <typename Pointer>
void selectCandidates(PackageDb& db, std::vector<Pointer>& list, PackageVersion downgradeLimit,
                      bool verbose) {
  std::vector<const PackageInfo*> records;
  records.reserve(list.size());
  for (const Pointer& element : list) records.push_back(&*element);
  std::vector<Pointer> chosen;
  for (size_t position : selectionOrder(db, records, downgradeLimit, verbose)) {
    chosen.push_back(std::move(list[position]));
  }
  list = std::move(chosen);
}

#endif  // RESOLVE_SELECTION_H_

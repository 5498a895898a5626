#include "resolve/selection.h"

#include <string>

#include "console/console.h"
#include "pdb/display_name.h"
#include "pdb/package_db.h"

namespace {

bool related(const PackageInfo& a, const PackageInfo& b) {
  return a.hasName(b.name) || b.hasName(a.name);
}

// Phase one: decides record by record whether it survives. Every record
// of the input that the limit allows takes part in each comparison,
// including records already dropped for another reason and records not
// yet examined. A record below the limit takes no part: otherwise, being
// older, it would push out the very records the limit allows.
class Chooser {
 public:
  Chooser(PackageDb& db, const std::vector<const PackageInfo*>& list, PackageVersion limit,
          bool verbose)
      : db_(db), list_(list), limit_(limit), verbose_(verbose) {}

  std::vector<size_t> survivors() const {
    std::vector<size_t> kept;
    for (size_t position = 0; position < list_.size(); ++position) {
      if (survives(position)) kept.push_back(position);
    }
    return kept;
  }

 private:
  bool limited() const { return limit_ != kNoDowngradeLimit; }

  bool belowLimit(const PackageInfo& record) const { return limited() && record.version < limit_; }

  bool survives(size_t position) const {
    const PackageInfo& record = *list_[position];
    if (belowLimit(record)) {
      db_.printWarning("ommitting package %s: not allowed", displayName(record).c_str());
      return false;
    }
    for (size_t other = 0; other < list_.size(); ++other) {
      if (other == position || belowLimit(*list_[other])) continue;
      if (losesTo(record, *list_[other], other < position)) return false;
    }
    return true;
  }

  // Whether `rival` pushes `record` out: it is preferred (newer, or older
  // under a limit), or it is equal and either a bundle beating a standalone
  // `record` or, being of the same kind, earlier in the list. Equal records
  // must not drop each other, or nothing of the package would be left.
  bool losesTo(const PackageInfo& record, const PackageInfo& rival, bool rivalFirst) const {
    if (!related(record, rival)) return false;
    int preference = comparePackages(rival, record);
    if (limited()) preference = -preference;
    if (preference > 0) {
      reportPreferred(record);
      return true;
    }
    if (preference < 0) return false;
    if (record.isBundle != rival.isBundle) return rival.isBundle;
    return rivalFirst;
  }

  void reportPreferred(const PackageInfo& record) const {
    if (!verbose_) return;
    if (limited()) {
      db_.printWarning("omitting package %s: older package is already provided",
                       displayName(record).c_str());
    } else {
      db_.printWarning("omitting package %s: newer package is already provided",
                       displayName(record).c_str());
    }
  }

  PackageDb& db_;
  const std::vector<const PackageInfo*>& list_;
  const PackageVersion limit_;
  const bool verbose_;
};

// Where phase two puts `record` in `ordered`: right after the last element
// it depends on or that conflicts with it, else in front.
size_t insertionPoint(const std::vector<const PackageInfo*>& list, const std::vector<size_t>& ordered,
                      const PackageInfo& record) {
  for (size_t index = ordered.size(); index > 0; --index) {
    const PackageInfo& earlier = *list[ordered[index - 1]];
    if (record.dependsOn(earlier) || earlier.conflictsWith(record)) return index;
  }
  return 0;
}

}  // namespace

std::vector<size_t> selectionOrder(PackageDb& db, const std::vector<const PackageInfo*>& list,
                                   PackageVersion downgradeLimit, bool verbose) {
  std::vector<size_t> ordered;
  for (size_t position : Chooser(db, list, downgradeLimit, verbose).survivors()) {
    const size_t at = insertionPoint(list, ordered, *list[position]);
    ordered.insert(ordered.begin() + at, position);
  }
  return ordered;
}

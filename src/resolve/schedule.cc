#include "resolve/schedule.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <string>

#include "console/console.h"
#include "commit/change_set.h"
#include "pdb/database_writer.h"
#include "pdb/display_name.h"
#include "pdb/package_db.h"
#include "resolve/name_index.h"
#include "resolve/selection.h"

namespace {

// Size hint for staging a "disabled" state file.
const uint64_t kStateFileHint = 8;

bool isRemoval(int action) { return action == kActionUninstall || action == kActionDisable; }

// Step 1: a bundle's action reaches the packages installed from it.
void spreadBundleActions(PackageDb& db, const NameIndex& names) {
  for (Package* member : db.packages) {
    if (member->bundle.name.empty()) continue;
    const Package* bundle = names.first(member->bundle.name);
    if (bundle == nullptr) continue;
    if (bundle->action == kActionDisable) {
      if (member->action != kActionUninstall) member->action = kActionDisable;
    } else if (bundle->action == kActionUninstall) {
      member->action = kActionUninstall;
    } else if (bundle->action == kActionEnable && member->disabled) {
      member->action = kActionEnable;
    }
  }
}

// Step 2. Records that become active on the way are visited in their turn.
void keepWhatActivePackagesNeed(PackageDb& db, bool verbose, const NameIndex& names) {
  for (size_t i = 0; i < db.packages.size(); ++i) {
    Package& package = *db.packages[i];
    if (staysActive(package)) PrerequisiteKeeper(db, verbose, &names).keepPrerequisites(package);
  }
}

// A bundle's placeholder (a record without a name) only makes the
// admission of one member see a conflict; it is no package to disable, and
// nothing may be staged for it: its entry directory would be the database
// root.
bool isPlaceholder(const Package& package) { return package.name.empty(); }

// Step 3 for one package `q` that stays active: disables what it forbids;
// when `q` is being enabled and an active package forbids it, disables
// that package or, when that one is being enabled too, cancels `q`.
// Cancels the enabling of `cancelled`, which `other` forbids or is
// forbidden by. A package that is enabled already is disabled instead:
// cancelling its enabling alone would leave both active.
void cancelEnabling(PackageDb& db, Package& cancelled, const Package& other, bool verbose) {
  if (verbose) {
    db.printWarning("can not enable %s: %s conflicts with it", cancelled.name.c_str(),
                    displayName(other).c_str());
  }
  cancelled.action = cancelled.disabled ? kActionNone : kActionDisable;
}

void settleConflictsOf(PackageDb& db, Package& q, bool verbose, const NameIndex& names) {
  // Records that share no name with `q` meet neither test below.
  for (Package* p : names.related(q)) {
    if (p == &q || !staysActive(*p) || isPlaceholder(*p)) continue;
    if (q.conflictsWith(*p)) {
      if (p->action == kActionNone) {
        p->action = kActionDisable;
      } else if (p->action == kActionEnable) {
        // Two enablings that conflict: the later one gives way.
        cancelEnabling(db, *p, q, verbose);
      }
      continue;
    }
    if (q.action != kActionEnable || !p->conflictsWith(q)) continue;
    if (p->action == kActionNone) {
      p->action = kActionDisable;
    } else if (p->action == kActionEnable) {
      cancelEnabling(db, q, *p, verbose);
      return;
    }
  }
}

void settleConflicts(PackageDb& db, bool verbose, const NameIndex& names) {
  for (Package* q : db.packages) {
    if (staysActive(*q) && !isPlaceholder(*q)) settleConflictsOf(db, *q, verbose, names);
  }
}

// Step 4 for one package: moves its action on when a dependency is lost;
// true when the action changed.
bool followLostDependency(const NameIndex& names, Package& package) {
  for (const PackageRef& dependency : package.depends) {
    ProviderStatus status = providerStatus(names.providersOf(dependency));
    if (status == ProviderStatus::LostByUninstall && package.action != kActionUninstall) {
      package.action = kActionUninstall;
      return true;
    }
    if (status != ProviderStatus::LostByDisable || isRemoval(package.action)) continue;
    if (package.disabled && package.action == kActionNone) continue;
    package.action = kActionDisable;
    return true;
  }
  return false;
}

// Step 4: every change starts the walk again from the first package. A
// change only moves an action on towards uninstall, so the walk ends.
void dropLostDependents(PackageDb& db, const NameIndex& names) {
  bool changed;
  do {
    changed = false;
    for (Package* package : db.packages) {
      if (followLostDependency(names, *package)) {
        changed = true;
        break;
      }
    }
  } while (changed);
}

enum class MemberState { Active, MerelyDisabled, PassedOver };

// How step 5 counts a bundle member. An enabled member being enabled is
// passed over like one being uninstalled.
MemberState memberState(const Package& member) {
  if (member.disabled) {
    if (member.action == kActionNone || member.action == kActionDisable) {
      return MemberState::MerelyDisabled;
    }
    return member.action == kActionEnable ? MemberState::Active : MemberState::PassedOver;
  }
  if (member.action == kActionNone) return MemberState::Active;
  return member.action == kActionDisable ? MemberState::MerelyDisabled : MemberState::PassedOver;
}

// Step 5 for one bundle record: dropped when none of its members stays at
// all. A bundle whose members are merely disabled is disabled with them,
// never dropped: its entry keeps the image that describes the members, and
// without it the next run would uninstall them all. A pending enabling of
// an already disabled one is cancelled.
void settleBundle(const PackageDb& db, Package& bundle) {
  bool noted = false;
  for (const Package* member : db.packages) {
    if (member->isAllOnes() || member->bundle.name != bundle.name) continue;
    MemberState state = memberState(*member);
    if (state == MemberState::Active) return;
    if (state == MemberState::MerelyDisabled) noted = true;
  }
  if (!noted) {
    bundle.action = kActionUninstall;
  } else if (!bundle.disabled) {
    bundle.action = kActionDisable;
  } else if (bundle.action == kActionEnable) {
    bundle.action = kActionNone;
  }
}

void settleBundles(PackageDb& db) {
  for (Package* package : db.packages) {
    if (package->isBundle && package->action != kActionUninstall) settleBundle(db, *package);
  }
}

// Step 6: true when the plan was refused because it would leave no
// package active; every action is then cancelled.
bool refuseEmptyPlan(PackageDb& db, bool verbose) {
  if (db.packages.empty()) return false;
  if (std::any_of(db.packages.begin(), db.packages.end(),
                  [](const Package* package) { return staysActive(*package); })) {
    return false;
  }
  for (Package* package : db.packages) package->action = kActionNone;
  if (verbose) db.printError("can not uninstall or disable all packages");
  return true;
}

void stageDisabling(PackageDb& db, Package& package, ChangeSet& changes, bool verbose) {
  if (verbose) showProgress("disabling " + displayName(package) + "...");
  const std::string dir = databaseDir(package);
  changes.addRemoval(dir + "enabled");
  std::ofstream out;
  changes.openStagedFile(out, dir + "disabled", kStateFileHint, 0);
  out << (package.userChoice ? "user" : "auto") << "\n";
  out.close();
  package.disabled = true;
  package.action = kActionNone;
  if (verbose) db.printNotice("disabled %s", displayName(package).c_str());
}

// Step 8, in reverse database order. An uninstalled record is taken out by
// its own identity, not by name: another record may bear the same name.
void stageRemovals(PackageDb& db, ChangeSet& changes, bool verbose) {
  std::vector<Package*> removals;
  for (auto it = db.packages.rbegin(); it != db.packages.rend(); ++it) {
    if (isRemoval((*it)->action)) removals.push_back(*it);
  }
  for (Package* package : removals) {
    if (package->action == kActionUninstall) {
      package->stageRemoval(changes);
      db.remove(package);
    } else {
      stageDisabling(db, *package, changes, verbose);
    }
  }
}

// Step 7's enable list: one record per name, ordered by dependencies.
std::vector<Package*> enableList(PackageDb& db) {
  std::vector<Package*> list;
  for (Package* package : db.packages) {
    if (package->action == kActionEnable) list.push_back(package);
  }
  selectCandidates(db, list, kNoDowngradeLimit, false);
  return list;
}

}  // namespace

bool staysActive(const Package& package) {
  return (!package.disabled && package.action == kActionNone) || package.action == kActionEnable;
}

ProviderStatus providerStatus(const std::vector<Package*>& providers) {
  bool someDisabled = false;
  for (const Package* provider : providers) {
    if (staysActive(*provider)) return ProviderStatus::Kept;
    if (provider->disabled || provider->action == kActionDisable) someDisabled = true;
  }
  return someDisabled ? ProviderStatus::LostByDisable : ProviderStatus::LostByUninstall;
}

void PrerequisiteKeeper::keepPrerequisites(Package& package) {
  if (!entered_.insert(&package).second) return;
  if (!package.bundle.name.empty()) {
    Package* bundle = names_ ? names_->first(package.bundle.name) : db_.find(package.bundle.name);
    if (bundle) keepPackage(*bundle, package);
  }
  for (const PackageRef& dependency : package.depends) {
    std::vector<Package*> providers =
        names_ ? names_->providersOf(dependency) : db_.providersOf(dependency);
    if (providerStatus(providers) == ProviderStatus::Kept) continue;
    if (providers.empty()) return;
    if (Package* kept = chooseProvider(providers)) keepPackage(*kept, package);
  }
}

void PrerequisiteKeeper::keepPackage(Package& target, const Package& dependent) {
  if (isRemoval(target.action)) {
    if (verbose_) {
      db_.printWarning("can not %s %s: %s depends on it", actionWord(target.action),
                       displayName(target).c_str(), dependent.name.c_str());
    }
    setAction(target, kActionNone);
    keepPrerequisites(target);
  } else if (target.disabled) {
    setAction(target, kActionEnable);
    keepPrerequisites(target);
  }
}

Package* PrerequisiteKeeper::chooseProvider(std::vector<Package*> providers) {
  selectCandidates(db_, providers, kNoDowngradeLimit, false);
  return providers.empty() ? nullptr : providers.back();
}

void PrerequisiteKeeper::setAction(Package& package, int action) {
  if (package.action == action) return;
  package.action = action;
  entered_.clear();
}

void PackageDb::applySchedule(ChangeSet& changes, bool verbose) {
  const NameIndex names(packages);
  spreadBundleActions(*this, names);
  keepWhatActivePackagesNeed(*this, verbose, names);
  settleConflicts(*this, verbose, names);
  dropLostDependents(*this, names);
  settleBundles(*this);
  if (refuseEmptyPlan(*this, verbose)) return;
  std::vector<Package*> enabling = enableList(*this);
  stageRemovals(*this, changes, verbose);
  enablePackages(*this, changes, enabling, verbose);
}

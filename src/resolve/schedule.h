// The scheduled uninstall, enable and disable actions. Other components
// write a schedule file per package; loading turns it into the `action` of
// the installed record. PackageDb::applySchedule (defined in schedule.cc)
// makes a consistent plan of these wishes and stages it in the run's
// change set:
//   1. a bundle's action reaches its members;
//   2. what active packages need stays or becomes active (PrerequisiteKeeper);
//   3. packages conflicting with active ones are disabled, or an enabling
//      that an enabled-to-be package forbids is cancelled;
//   4. packages whose dependencies go away are uninstalled or disabled;
//   5. bundle records without an active member are dropped;
//   6. a plan that leaves no package active is refused as a whole;
//   7-9. removals, "disabled" state files and enablings are staged.
// Only the in-memory records change at once (actions, `disabled`, removed
// records); files change when the change set is applied.
#ifndef RESOLVE_SCHEDULE_H_
#define RESOLVE_SCHEDULE_H_

#include <set>
#include <vector>

#include "pdb/package.h"

class PackageDb;

// A package stays active when it is enabled and nothing is scheduled for
// it, or when it is scheduled for enabling.
bool staysActive(const Package& package);

// The verdict on the providers of one dependency; each value equals the
// action it leads to for the dependent package.
enum class ProviderStatus {
  Kept = 0,             // some provider stays active
  LostByUninstall = 1,  // none stays active and none is merely disabled (or none at all)
  LostByDisable = 3,    // none stays active, but one is disabled or being disabled
};

ProviderStatus providerStatus(const std::vector<Package*>& providers);

// Keeps (or re-enables) what a package that stays needs, on the records of
// `db`: cancels scheduled removals of its bundle and providers, with the
// warning "can not %s %s: %s depends on it" when verbose, and schedules
// disabled ones for enabling. Changes actions only; stages nothing.
//
// keepPrerequisites and keepPackage call each other. A cycle of bundle
// references among disabled packages would make them call each other for
// ever without changing anything, so a keepPrerequisites call for a
// package already entered since the last change of an action is skipped:
// that call is either under way further up (and would repeat without end)
// or finished (and, with nothing changed since, would do nothing again).
// Every input thus gets the decisions it gets without the cut whenever
// those calls end at all.
//
// One keeper serves one top-level call; `db` must outlive it.
class NameIndex;

class PrerequisiteKeeper {
 public:
  // `names` (may be null) answers bundle and provider lookups instead of
  // walks of db.packages; it must describe db.packages as they are.
  PrerequisiteKeeper(PackageDb& db, bool verbose, const NameIndex* names = nullptr)
      : db_(db), verbose_(verbose), names_(names) {}
  PrerequisiteKeeper(const PrerequisiteKeeper&) = delete;
  PrerequisiteKeeper& operator=(const PrerequisiteKeeper&) = delete;

  // Makes sure that `package`'s bundle and, for each dependency in order,
  // one provider stay or become active. A dependency without any provider
  // ends the walk: later dependencies are not looked at.
  void keepPrerequisites(Package& package);
  // Cancels a scheduled removal of `target`, or schedules a disabled
  // `target` for enabling, on behalf of `dependent`.
  void keepPackage(Package& target, const Package& dependent);

 private:
  // The provider that is kept for a dependency none of whose providers
  // stays active: the last one the selection leaves, or null.
  Package* chooseProvider(std::vector<Package*> providers);
  void setAction(Package& package, int action);

  PackageDb& db_;
  const bool verbose_;
  const NameIndex* names_;
  // Packages whose keepPrerequisites began since the last change of an action.
  std::set<const Package*> entered_;
};

#endif  // RESOLVE_SCHEDULE_H_

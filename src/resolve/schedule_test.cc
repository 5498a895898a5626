// The scheduled actions on in-memory databases: provider verdicts, cycles,
// decisions the specified steps lead to, and properties checked on many
// random package sets. The examples that touch files end to end are in
// tests/schedule_test.cc.
#include "pdb/display_name.h"
#include "resolve/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "commit/change_set.h"
#include "commit/file_system.h"
#include "pdb/database_writer.h"
#include "pdb/package_db.h"
#include "resolve/selection.h"
#include "support/fake_file_system.h"

namespace {

using Lines = std::vector<std::string>;

PackageVersion version(unsigned major, unsigned minor) { return major << 24 | minor << 16; }

// What one record looks like before a run; tests build identical
// databases from it as often as they need.
struct Blueprint {
  std::string name;
  PackageVersion version = 0x01000000;
  uint32_t buildTime = 100;
  bool isBundle = false;
  std::string bundle;
  std::vector<PackageRef> depends;
  std::vector<PackageRef> provides;
  std::vector<PackageRef> conflicts;
  bool disabled = false;
  bool userChoice = false;
  int action = kActionNone;
};

std::string describe(const std::vector<Blueprint>& blueprints) {
  std::ostringstream out;
  auto refs = [&out](const char* label, const std::vector<PackageRef>& list) {
    for (const PackageRef& r : list) {
      out << " " << label << "=" << r.name << "(" << r.minVersion << "," << r.maxVersion << ","
          << r.priority << ")";
    }
  };
  for (const Blueprint& b : blueprints) {
    out << b.name << " v" << b.version << "/" << b.buildTime << (b.isBundle ? " bundle" : "")
        << (b.bundle.empty() ? "" : " in=" + b.bundle) << (b.disabled ? " disabled" : "")
        << (b.userChoice ? " user" : "") << " action=" << b.action;
    refs("dep", b.depends);
    refs("prov", b.provides);
    refs("conf", b.conflicts);
    out << "\n";
  }
  return out.str();
}

// A database built from blueprints, with a change set over a scripted file
// system in which every entry directory and its state files and image
// exist, so that every staged removal is recorded.
class Plan {
 public:
  explicit Plan(const std::vector<Blueprint>& blueprints) {
    for (const Blueprint& b : blueprints) {
      Package* package = new Package(b.name);
      db.packages.push_back(package);
      package->version = b.version;
      package->buildTime = b.buildTime;
      package->isBundle = b.isBundle;
      package->bundle.name = b.bundle;
      package->depends = b.depends;
      package->provides = b.provides;
      package->conflicts = b.conflicts;
      package->disabled = b.disabled;
      package->userChoice = b.userChoice;
      package->action = b.action;
      const std::string dir = databaseDir(*package);
      fs.scriptStatus(dir, 0, 1, true);
      for (const char* file : {"image", "enabled", "disabled"}) fs.scriptStatus(dir + file, 1, 1);
    }
  }

  // Runs the schedule and returns what it printed on standard output.
  std::string apply(bool verbose) {
    testing::internal::CaptureStdout();
    db.applySchedule(changes, verbose);
    return testing::internal::GetCapturedStdout();
  }

  // Staged entries, "removed <target>" or "staged <target>".
  Lines staged() const {
    Lines lines;
    for (const auto& entry : changes) {
      bool removal = entry.second.kind == ChangeKind::Remove;
      lines.push_back((removal ? "removed " : "staged ") + entry.first);
    }
    return lines;
  }

  // Every record left, "name: enabled|disabled [action]".
  Lines states() const {
    Lines lines;
    for (const Package* p : db.packages) {
      lines.push_back(p->name + ": " + (p->disabled ? "disabled" : "enabled") +
                      (p->action ? std::string(" ") + actionWord(p->action) : ""));
    }
    return lines;
  }

  PackageDb db;
  FakeFileSystem fs;
  ChangeSet changes{fs};
};

Blueprint package(const std::string& name, bool disabled = false, int action = kActionNone,
                  const std::vector<std::string>& needs = {}) {
  Blueprint b;
  b.name = name;
  b.disabled = disabled;
  b.action = action;
  for (const std::string& need : needs) b.depends.push_back(PackageRef(need, 0, 0));
  return b;
}

TEST(ProviderStatus, TheFirstActiveProviderDecidesElseAnyDisabledOne) {
  Package enabled("a"), disabled("b"), enabling("c"), disabling("d"), uninstalling("e"),
      disabledUninstalling("f");
  disabled.disabled = true;
  enabling.disabled = true;
  enabling.action = kActionEnable;
  disabling.action = kActionDisable;
  uninstalling.action = kActionUninstall;
  disabledUninstalling.disabled = true;
  disabledUninstalling.action = kActionUninstall;

  EXPECT_EQ(ProviderStatus::LostByUninstall, providerStatus({}));
  EXPECT_EQ(ProviderStatus::Kept, providerStatus({&enabled}));
  EXPECT_EQ(ProviderStatus::Kept, providerStatus({&uninstalling, &disabled, &enabling}));
  EXPECT_EQ(ProviderStatus::LostByDisable, providerStatus({&disabled}));
  EXPECT_EQ(ProviderStatus::LostByDisable, providerStatus({&uninstalling, &disabling}));
  EXPECT_EQ(ProviderStatus::LostByDisable, providerStatus({&disabledUninstalling}));
  EXPECT_EQ(ProviderStatus::LostByUninstall, providerStatus({&uninstalling}));

  EXPECT_TRUE(staysActive(enabled));
  EXPECT_TRUE(staysActive(enabling));
  EXPECT_FALSE(staysActive(disabled));
  EXPECT_FALSE(staysActive(disabling));
  EXPECT_FALSE(staysActive(uninstalling));
}

TEST(Schedule, DependencyCyclesOfDisabledPackagesAreEnabledTogether) {
  // a -> b -> a, all disabled, a scheduled for enabling.
  Plan two({package("a", true, kActionEnable, {"b"}), package("b", true, 0, {"a"})});
  two.apply(true);
  EXPECT_EQ((Lines{"a: enabled", "b: enabled"}), two.states());
  EXPECT_EQ((Lines{"enabled a-1.0", "enabled b-1.0"}), two.db.messages);

  // a -> b -> c -> a: enabled in the order the selection gives the cycle.
  Plan three({package("a", true, kActionEnable, {"b"}), package("b", true, 0, {"c"}),
              package("c", true, 0, {"a"})});
  three.apply(true);
  EXPECT_EQ((Lines{"a: enabled", "b: enabled", "c: enabled"}), three.states());
  EXPECT_EQ((Lines{"enabled b-1.0", "enabled a-1.0", "enabled c-1.0"}), three.db.messages);

  // Scheduled for disabling while an enabled package needs the first of
  // them: the keeping goes round the cycle and enables every member.
  Plan plan({package("a", true, kActionDisable, {"b"}), package("b", true, kActionDisable, {"c"}),
             package("c", true, kActionDisable, {"a"}), package("app", false, 0, {"a"})});
  plan.apply(true);
  EXPECT_EQ((Lines{"a: enabled", "b: enabled", "c: enabled", "app: enabled"}), plan.states());
  EXPECT_EQ((Lines{"WARNING: can not disable a-1.0: app depends on it",
                   "WARNING: can not disable b-1.0: a depends on it",
                   "WARNING: can not disable c-1.0: b depends on it", "enabled b-1.0",
                   "enabled a-1.0", "enabled c-1.0"}),
            plan.db.messages);
}

TEST(Schedule, BundleReferenceCyclesOfDisabledPackagesEnd) {
  // Without the cut, keeping these calls itself for ever: each package
  // names a disabled package of the cycle as its bundle.
  std::vector<std::vector<std::string>> cycles = {{"a"}, {"a", "b"}, {"a", "b", "c"}};
  for (const std::vector<std::string>& names : cycles) {
    std::vector<Blueprint> blueprints;
    for (size_t i = 0; i < names.size(); ++i) {
      Blueprint b = package(names[i], true, i == 0 ? kActionEnable : kActionNone);
      b.bundle = names[(i + 1) % names.size()];
      blueprints.push_back(b);
    }
    blueprints.push_back(package("sys"));
    Plan plan(blueprints);
    plan.apply(false);
    for (const std::string& line : plan.states()) {
      EXPECT_NE(std::string::npos, line.find(": enabled")) << describe(blueprints);
    }
  }
}

TEST(Schedule, AnUninstalledRecordIsTakenOutByIdentity) {
  // Two records of one name (a kept image besides the database image):
  // the second is uninstalled, the first must stay, alive.
  std::vector<Blueprint> blueprints{package("dup"), package("dup", false, kActionUninstall),
                                    package("sys")};
  blueprints[1].version = version(2, 0);
  Plan plan(blueprints);
  Package* first = plan.db.packages[0];
  plan.apply(true);
  ASSERT_EQ(2u, plan.db.packages.size());
  EXPECT_EQ(first, plan.db.packages[0]);
  EXPECT_EQ(version(1, 0), plan.db.packages[0]->version);
}

TEST(Schedule, ABundlePlaceholderIsNeverActedOn) {
  // An optional bundle member installed disabled, its placeholder (no
  // name, conflicting with it), and the member enabled later in the run:
  // nothing may be staged for the placeholder, whose entry directory would
  // be the database root itself.
  Blueprint placeholder = package("");
  placeholder.conflicts.push_back(PackageRef("lte", 0, 0));
  Plan plan({package("sys"), package("lte", true, kActionEnable), placeholder});
  plan.apply(true);
  EXPECT_EQ((Lines{"removed /flash/var/pdb/lte/disabled", "removed /flash/var/pdb/lte/enabled"}),
            plan.staged());
  EXPECT_EQ((Lines{"sys: enabled", "lte: enabled", ": enabled"}), plan.states());
}

TEST(Schedule, ConflictsBetweenEnablingsCancelTheLaterInTurn) {
  // a forbids b; both being enabled: at b's turn a forbids it, so b's
  // enabling is cancelled.
  std::vector<Blueprint> blueprints{package("a", true, kActionEnable),
                                    package("b", true, kActionEnable), package("sys")};
  blueprints[0].conflicts.push_back(PackageRef("b", 0, 0));
  Plan plan(blueprints);
  plan.apply(true);
  EXPECT_EQ((Lines{"a: enabled", "b: disabled", "sys: enabled"}), plan.states());
  EXPECT_EQ((Lines{"WARNING: can not enable b: a-1.0 conflicts with it", "enabled a-1.0"}),
            plan.db.messages);

  // Declared both ways: the later enabling gives way all the same.
  blueprints[1].conflicts.push_back(PackageRef("a", 0, 0));
  Plan mutual(blueprints);
  mutual.apply(true);
  EXPECT_EQ((Lines{"a: enabled", "b: disabled", "sys: enabled"}), mutual.states());
  EXPECT_EQ((Lines{"WARNING: can not enable b: a-1.0 conflicts with it", "enabled a-1.0"}),
            mutual.db.messages);

  // A package enabled already whose enabling is cancelled is disabled:
  // cancelling alone would leave it enabled beside the package that
  // forbids it.
  std::vector<Blueprint> already{package("a", true, kActionEnable),
                                 package("b", false, kActionEnable)};
  already[0].conflicts.push_back(PackageRef("b", 0, 0));
  Plan kept(already);
  kept.apply(true);
  EXPECT_EQ((Lines{"a: enabled", "b: disabled"}), kept.states());

  // Five mutually conflicting packages scheduled for enabling: only the
  // first ends enabled.
  std::vector<Blueprint> five;
  for (const char* name : {"p1", "p2", "p3", "p4", "p5"}) five.push_back(package(name, true, kActionEnable));
  for (Blueprint& b : five) {
    for (const Blueprint& other : five) {
      if (other.name != b.name) b.conflicts.push_back(PackageRef(other.name, 0, 0));
    }
  }
  five.push_back(package("sys"));
  Plan all(five);
  all.apply(true);
  EXPECT_EQ((Lines{"p1: enabled", "p2: disabled", "p3: disabled", "p4: disabled", "p5: disabled",
                   "sys: enabled"}),
            all.states());
  EXPECT_EQ("WARNING: can not enable p5: p1-1.0 conflicts with it", all.db.messages[3]);
}

TEST(Schedule, BundlesFollowTheirMembers) {
  Blueprint bundle = package("routing");
  bundle.isBundle = true;
  auto member = [](const std::string& name, bool disabled, int action) {
    Blueprint b = package(name, disabled, action);
    b.bundle = "routing";
    return b;
  };
  // Every member being uninstalled: the bundle record goes with them.
  Plan gone({member("bgp", false, kActionUninstall), member("ospf", false, kActionUninstall), bundle,
             package("sys")});
  gone.apply(true);
  EXPECT_EQ((Lines{"sys: enabled"}), gone.states());

  // A disabled bundle scheduled for enabling whose member cannot be
  // enabled (what it needs stays disabled) stays disabled itself: its
  // pending enabling is cancelled.
  Blueprint disabledBundle = bundle;
  disabledBundle.disabled = true;
  disabledBundle.action = kActionEnable;
  Blueprint bgp = member("bgp", true, kActionNone);
  bgp.depends.push_back(PackageRef("lib", 0, 0));
  Plan kept({bgp, disabledBundle, package("lib", true, kActionUninstall), package("sys")});
  kept.apply(true);
  EXPECT_EQ((Lines{"bgp: disabled", "routing: disabled", "lib: disabled", "sys: enabled"}),
            kept.states());
  EXPECT_EQ((Lines{"WARNING: can not uninstall lib-1.0: bgp depends on it", "disabled bgp-1.0"}),
            kept.db.messages);

  // A package that needs the bundle record by name keeps it enabled only
  // until step 5 drops the record: the package stays enabled without it.
  Blueprint user = package("user", false, kActionNone, {"routing"});
  Plan lost({member("bgp", false, kActionUninstall), bundle, user});
  lost.apply(true);
  EXPECT_EQ((Lines{"user: enabled"}), lost.states());
}

TEST(Schedule, ADatabaseOfDisabledPackagesIsRefusedEvenWithNothingScheduled) {
  Plan plan({package("a", true), package("b", true)});
  EXPECT_EQ("ERROR: can not uninstall or disable all packages\n", plan.apply(true));
  EXPECT_TRUE(plan.changes.empty());

  Plan empty({});
  EXPECT_EQ("", empty.apply(true));
}

// keepPrerequisites and keepPackage as specified, without any cut, with a
// budget of nested calls: false when the budget ran out.
class LiteralKeeper {
 public:
  explicit LiteralKeeper(PackageDb& db) : db_(db) {}

  bool keepPrerequisites(Package& package, int budget) {
    if (budget == 0) return false;
    if (!package.bundle.name.empty()) {
      Package* bundle = db_.find(package.bundle.name);
      if (bundle && !keepPackage(*bundle, package, budget - 1)) return false;
    }
    for (const PackageRef& dependency : package.depends) {
      std::vector<Package*> providers = db_.providersOf(dependency);
      if (providerStatus(providers) == ProviderStatus::Kept) continue;
      if (providers.empty()) return true;
      selectCandidates(db_, providers, kNoDowngradeLimit, false);
      if (!providers.empty() && !keepPackage(*providers.back(), package, budget - 1)) return false;
    }
    return true;
  }

  bool keepPackage(Package& target, const Package& dependent, int budget) {
    if (target.action == kActionUninstall || target.action == kActionDisable) {
      warnings.push_back(std::string("WARNING: can not ") + actionWord(target.action) + " " +
                         displayName(target) + ": " + dependent.name + " depends on it");
      target.action = kActionNone;
      return keepPrerequisites(target, budget);
    }
    if (target.disabled) {
      target.action = kActionEnable;
      return keepPrerequisites(target, budget);
    }
    return true;
  }

  Lines warnings;

 private:
  PackageDb& db_;
};

// True when following bundle references from some package reaches a
// cycle made of disabled packages only.
bool hasDisabledBundleCycle(const PackageDb& db) {
  for (const Package* start : db.packages) {
    std::vector<const Package*> path;
    for (const Package* p = start; p != nullptr;
         p = p->bundle.name.empty() ? nullptr : db.find(p->bundle.name)) {
      auto again = std::find(path.begin(), path.end(), p);
      if (again != path.end()) {
        if (std::all_of(again, path.end(), [](const Package* q) { return q->disabled; })) return true;
        break;
      }
      path.push_back(p);
    }
  }
  return false;
}

Lines actions(const PackageDb& db) {
  Lines lines;
  for (const Package* p : db.packages) lines.push_back(p->name + " " + actionWord(p->action));
  return lines;
}

// Random package sets: up to eight packages with random versions,
// dependencies, provides, conflicts, bundle references, states and actions.
class RandomPackages {
 public:
  explicit RandomPackages(unsigned seed) : random_(seed) {}

  std::vector<Blueprint> make(bool uniqueNames, bool scheduled) {
    size_t count = pick(8) + 1;
    std::vector<Blueprint> set(count);
    for (size_t i = 0; i < count; ++i) {
      Blueprint& b = set[i];
      b.name = "p" + std::to_string(uniqueNames ? i : pick(count));
      b.version = version(1, pick(3));
      if (chance(5)) b.version = b.buildTime = 0xFFFFFFFF;
      b.isBundle = chance(20);
      if (chance(25)) b.bundle = chance(90) ? "p" + std::to_string(pick(count)) : "gone";
      for (size_t n = pick(3); n > 0; --n) b.depends.push_back(ref(count));
      if (chance(40)) {
        // Two draws, in an order of their own: an argument list would leave
        // it to the compiler.
        std::string provided = someName(count);
        int priority = int(pick(4)) - 1;
        b.provides.push_back(PackageRef(provided, 0, 0, priority));
      }
      if (chance(20)) b.conflicts.push_back(ref(count));
      b.disabled = chance(40);
      b.userChoice = chance(50);
      if (scheduled && chance(50)) b.action = int(pick(3)) + 1;
    }
    return set;
  }

 private:
  unsigned pick(unsigned bound) { return std::uniform_int_distribution<unsigned>(0, bound - 1)(random_); }
  bool chance(unsigned percent) { return pick(100) < percent; }
  std::string someName(size_t count) {
    unsigned which = pick(10);
    if (which < 6) return "p" + std::to_string(pick(count));
    return which < 9 ? "c" + std::to_string(pick(2)) : "missing";
  }
  PackageRef ref(size_t count) {
    switch (pick(4)) {
      case 0: return PackageRef(someName(count), version(1, 1), 0);
      case 1: return PackageRef(someName(count), 0, version(1, 1));
      default: return PackageRef(someName(count), 0, 0);
    }
  }

  std::mt19937 random_;
};

TEST(ScheduleKeeper, TheCutOnlyEndsRecursionsThatWouldNotEnd) {
  // Promise: wherever the specified recursion ends, the keeper decides and
  // warns exactly as it does; it runs out of budget only on a cycle of
  // bundle references among disabled packages.
  int endless = 0;
  for (unsigned seed = 1; seed <= 4000; ++seed) {
    std::vector<Blueprint> blueprints = RandomPackages(seed).make(seed % 5 != 0, true);
    Plan keeper(blueprints), literal(blueprints);
    bool ended = true;
    testing::internal::CaptureStdout();
    LiteralKeeper reference(literal.db);
    for (size_t i = 0; i < blueprints.size(); ++i) {
      if (staysActive(*keeper.db.packages[i])) {
        PrerequisiteKeeper(keeper.db, true).keepPrerequisites(*keeper.db.packages[i]);
      }
      if (ended && staysActive(*literal.db.packages[i])) {
        ended = reference.keepPrerequisites(*literal.db.packages[i], 2000);
      }
    }
    testing::internal::GetCapturedStdout();
    if (!ended) {
      ++endless;
      EXPECT_TRUE(hasDisabledBundleCycle(Plan(blueprints).db)) << describe(blueprints);
      continue;
    }
    EXPECT_EQ(actions(literal.db), actions(keeper.db)) << describe(blueprints);
    EXPECT_EQ(reference.warnings, keeper.db.messages) << describe(blueprints);
  }
  EXPECT_GT(endless, 0);
}

// What became of each record of a run, by name.
std::map<std::string, std::string> outcome(const std::vector<Blueprint>& blueprints,
                                           const PackageDb& db) {
  std::map<std::string, std::string> result;
  for (const Blueprint& b : blueprints) result[b.name] = "removed";
  for (const Package* p : db.packages) result[p->name] = p->disabled ? "disabled" : "enabled";
  return result;
}

bool printed(const Lines& messages, const std::string& start) {
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& line) { return line.compare(0, start.size(), start) == 0; });
}

// A database whose enabled packages have what they need, do not conflict,
// keep their bundles enabled, and whose bundles keep a fitting member:
// with nothing scheduled, such a database is left as it is.
bool consistent(const PackageDb& db) {
  bool anyEnabled = false;
  for (const Package* p : db.packages) {
    anyEnabled |= !p->disabled;
    for (const PackageRef& dependency : p->depends) {
      std::vector<Package*> providers = db.providersOf(dependency);
      if (providers.empty()) return false;
      if (!p->disabled && providerStatus(providers) != ProviderStatus::Kept) return false;
    }
    if (p->disabled) continue;
    for (const Package* q : db.packages) {
      if (q != p && !q->disabled && p->conflictsWith(*q)) return false;
    }
    const Package* bundle = p->bundle.name.empty() ? nullptr : db.find(p->bundle.name);
    if (bundle && bundle->disabled) return false;
  }
  for (const Package* b : db.packages) {
    if (!b->isBundle) continue;
    bool anyMember = false, enabledMember = false;
    for (const Package* m : db.packages) {
      if (m->isAllOnes() || m->bundle.name != b->name) continue;
      anyMember = true;
      enabledMember |= !m->disabled;
    }
    if (b->disabled ? !anyMember : !enabledMember) return false;
  }
  return anyEnabled;
}

// The promises checked on one input with unique names after a verbose
// run; broken() lists those that do not hold.
class Promises {
 public:
  Promises(const std::vector<Blueprint>& blueprints, const Plan& run)
      : before_(blueprints), run_(run), after_(outcome(blueprints, run.db)),
        refused_(printed(run.db.messages, "ERROR: can not uninstall or disable all packages")),
        bundleActionSeen_(bundleActionsSeen(before_.db)) {}

  Lines broken() {
    checkGuard();
    checkStaging();
    if (refused_) return broken_;
    for (const Package* p : before_.db.packages) {
      checkConflicts(*p);
      checkDependencies(*p);
      checkScheduledAction(*p);
    }
    return broken_;
  }

 private:
  void expect(bool holds, const std::string& promise) {
    if (!holds) broken_.push_back(promise);
  }
  bool ends(const Package& p, const char* state) { return after_[p.name] == state; }
  bool warned(const std::string& start) { return printed(run_.db.messages, "WARNING: " + start); }

  // A refused plan changes and stages nothing; otherwise some package is
  // left enabled. Every action is used up either way.
  void checkGuard() {
    if (refused_) {
      expect(run_.changes.empty(), "a refused plan stages nothing");
      for (const Package* p : before_.db.packages) {
        expect(ends(*p, p->disabled ? "disabled" : "enabled"), "a refused plan changes no record");
      }
    } else if (!before_.db.packages.empty()) {
      expect(std::any_of(after_.begin(), after_.end(), [](const auto& e) { return e.second == "enabled"; }),
             "a plan never leaves every package inactive");
    }
    for (const Package* p : run_.db.packages) expect(p->action == kActionNone, "no action is left over");
  }

  // The change set holds exactly what the records say: the entry's
  // removal for a removed record, the disabled pair for one that ends
  // disabled, the enabled pair for one that ends enabled, nothing for one
  // whose state did not change, and nothing else.
  void checkStaging() {
    std::map<std::string, Lines> stagedByDir;
    for (const std::string& line : run_.staged()) {
      std::string target = line.substr(line.find(' ') + 1);
      std::string dir = target.substr(0, target.find('/', std::string("/flash/var/pdb/").size()) + 1);
      stagedByDir[dir].push_back(line);
    }
    for (const Package* p : before_.db.packages) {
      const std::string dir = databaseDir(*p);
      const Lines staged = stagedByDir[dir];
      stagedByDir.erase(dir);
      if (ends(*p, "removed")) {
        expect(staged == (Lines{"removed " + dir, "removed " + dir + "image"}),
               "a removed record has its entry removed");
      } else if (staged.empty()) {
        expect(ends(*p, p->disabled ? "disabled" : "enabled"), "an unstaged record keeps its state");
      } else if (ends(*p, "disabled")) {
        expect(staged == (Lines{"staged " + dir + "disabled", "removed " + dir + "enabled"}),
               "a disabled record has its disabled file staged");
      } else {
        Lines enabled{"removed " + dir + "disabled",
                      (p->userChoice ? "staged " : "removed ") + dir + "enabled"};
        expect(staged == enabled, "an enabled record has its state files staged");
      }
    }
    expect(stagedByDir.empty(), "nothing is staged outside the entries of the records");
  }

  // No two packages that conflict end enabled, whatever was scheduled.
  void checkConflicts(const Package& p) {
    if (!ends(p, "enabled")) return;
    for (const Package* q : before_.db.packages) {
      if (q == &p || !ends(*q, "enabled")) continue;
      expect(!q->conflictsWith(p), "no enabled package forbids another enabled one");
    }
  }

  // True when some provider of `dependency` ends enabled, or, with
  // `orBundle`, is a bundle record (which step 5 may drop).
  bool met(const PackageRef& dependency, bool orBundle) {
    for (const Package* provider : before_.db.providersOf(dependency)) {
      if (ends(*provider, "enabled") || (orBundle && provider->isBundle)) return true;
    }
    return false;
  }

  // Every dependency of an enabled package keeps an enabled provider,
  // unless its provider was a bundle record dropped with its members.
  void checkDependencies(const Package& p) {
    if (!ends(p, "enabled")) return;
    for (const PackageRef& dependency : p.depends) {
      expect(met(dependency, true), "an enabled package keeps its dependencies");
    }
  }

  // A scheduled action is carried out unless a warning named the package,
  // its bundle's action overrode it, or (for an enabling) it is a bundle
  // record or lost a dependency.
  void checkScheduledAction(const Package& p) {
    const int bundleAction = bundleActionSeen_[p.name];
    const bool bundleEnables = p.disabled && bundleAction == kActionEnable;
    const std::string kept = displayName(p) + ":";
    if (p.action == kActionUninstall) {
      expect(ends(p, "removed") || warned("can not uninstall " + kept) || bundleEnables,
             "a scheduled uninstall is carried out or refused aloud");
    }
    if (p.action == kActionDisable) {
      // A bundle being uninstalled turns the disable into an uninstall.
      expect(!ends(p, "enabled") || warned("can not disable " + kept) ||
                 warned("can not uninstall " + kept) || bundleEnables,
             "a scheduled disable is carried out or refused aloud");
    }
    if (p.action == kActionEnable && p.disabled) {
      bool lostDependency = std::any_of(p.depends.begin(), p.depends.end(),
                                        [this](const PackageRef& d) { return !met(d, false); });
      expect(ends(p, "enabled") || warned("can not enable " + p.name + ":") || p.isBundle ||
                 lostDependency || bundleAction == kActionDisable || bundleAction == kActionUninstall,
             "a scheduled enable is carried out or has a reason");
    }
  }

  // The action each package found on its bundle when the bundles' actions
  // reached their members. That step goes through the packages in
  // database order and acts on the actions as it leaves them, so along a
  // chain of bundle references a member passes on what it was just given:
  // a disabled member of an enabled bundle is enabled, and so is, after
  // it, a disabled package that names it as its bundle, whatever either
  // had been scheduled for.
  static std::map<std::string, int> bundleActionsSeen(const PackageDb& db) {
    std::map<std::string, int> actions, seen;
    for (const Package* p : db.packages) actions[p->name] = p->action;
    for (const Package* q : db.packages) {
      const Package* bundle = q->bundle.name.empty() ? nullptr : db.find(q->bundle.name);
      if (bundle == nullptr) continue;
      const int bundleAction = seen[q->name] = actions[bundle->name];
      int& action = actions[q->name];
      if (bundleAction == kActionDisable && action != kActionUninstall) action = kActionDisable;
      if (bundleAction == kActionUninstall) action = kActionUninstall;
      if (bundleAction == kActionEnable && q->disabled) action = kActionEnable;
    }
    return seen;
  }

  Plan before_;
  const Plan& run_;
  std::map<std::string, std::string> after_;
  const bool refused_;
  std::map<std::string, int> bundleActionSeen_;
  Lines broken_;
};

TEST(Schedule, AnEnablingPassesAlongAChainOfBundleReferences) {
  // A cycle of bundle references (p1 in p6, p6 in p5, p5 in p1) with p1
  // and p5 scheduled for uninstalling and p6 for enabling. p6's enable
  // reaches p1 first and replaces its uninstall; p1 then passes that
  // enable on to p5 in place of its uninstall. Both enablings of packages
  // that p1-1.2 conflicts with are cancelled aloud, so that no two
  // conflicting packages end enabled; what is left of the plan would
  // disable every package, so the plan is refused as a whole and nothing
  // changes.
  Blueprint p0 = package("p0", true, kActionNone, {"p4"});
  p0.version = p0.buildTime = 0xFFFFFFFF;
  p0.bundle = "p3";
  Blueprint p1 = package("p1", true, kActionUninstall, {"p1", "p0"});
  p1.version = version(1, 2);
  p1.bundle = "p6";
  p1.userChoice = true;
  p1.depends[0].minVersion = version(1, 1);
  p1.conflicts.push_back(PackageRef("p6", version(1, 1), 0));
  Blueprint p2 = package("p2", true, kActionDisable, {"p3"});
  Blueprint p3 = package("p3", false, kActionNone, {"p4"});
  p3.version = version(1, 1);
  p3.userChoice = true;
  p3.conflicts.push_back(PackageRef("c1", 0, 0));
  Blueprint p4 = package("p4", false, kActionEnable);
  p4.version = version(1, 1);
  p4.provides.push_back(PackageRef("p6", 0, 0, 2));
  p4.conflicts.push_back(PackageRef("p1", 0, version(1, 1)));
  Blueprint p5 = package("p5", true, kActionUninstall);
  p5.version = version(1, 1);
  p5.bundle = "p1";
  p5.depends.push_back(PackageRef("p6", version(1, 1), 0));
  Blueprint p6 = package("p6", false, kActionEnable);
  p6.version = version(1, 1);
  p6.bundle = "p5";
  p6.provides.push_back(PackageRef("p6", 0, 0, 0));
  p6.conflicts.push_back(PackageRef("c0", 0, version(1, 1)));
  const std::vector<Blueprint> blueprints{p0, p1, p2, p3, p4, p5, p6};

  Plan plan(blueprints);
  plan.apply(true);
  EXPECT_EQ((Lines{"p0: disabled", "p1: disabled", "p2: disabled", "p3: enabled", "p4: enabled",
                   "p5: disabled", "p6: enabled"}),
            plan.states());
  EXPECT_EQ((Lines{"WARNING: can not enable p4: p1-1.2 conflicts with it",
                   "WARNING: can not enable p6: p1-1.2 conflicts with it",
                   "ERROR: can not uninstall or disable all packages"}),
            plan.db.messages);
  EXPECT_EQ(Lines(), Promises(blueprints, plan).broken());
}

TEST(ScheduleRandom, PromisesHoldForEveryInput) {
  // Every input: the run ends; verbose off prints nothing and decides as
  // verbose on; and, with unique names, the promises of Promises.
  // A consistent database with nothing scheduled is left untouched.
  int consistentInputs = 0;
  for (unsigned seed = 1; seed <= 5000; ++seed) {
    const bool uniqueNames = seed % 7 != 0;
    const bool scheduled = seed % 3 != 0;
    std::vector<Blueprint> blueprints = RandomPackages(seed).make(uniqueNames, scheduled);
    Plan loud(blueprints), silent(blueprints);
    loud.apply(true);
    EXPECT_EQ("", silent.apply(false)) << describe(blueprints);
    EXPECT_EQ(Lines(), silent.db.messages) << describe(blueprints);
    EXPECT_EQ(loud.states(), silent.states()) << describe(blueprints);
    EXPECT_EQ(loud.staged(), silent.staged()) << describe(blueprints);
    if (uniqueNames) {
      EXPECT_EQ(Lines(), Promises(blueprints, loud).broken()) << describe(blueprints);
    }
    if (!scheduled && consistent(Plan(blueprints).db)) {
      ++consistentInputs;
      EXPECT_TRUE(loud.changes.empty()) << describe(blueprints);
      EXPECT_EQ(Lines(), loud.db.messages) << describe(blueprints);
    }
  }
  EXPECT_GT(consistentInputs, 20);
}

}  // namespace

#include "resolve/admission.h"

#include <string>

#include "console/console.h"
#include "pdb/device_mode.h"
#include "pdb/display_name.h"
#include "pdb/package.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "platform/nv.h"

namespace {

const char kBrandingName[] = "branding";
const char kSystemName[] = "system";
const char kSystemPrefix[] = "kestavin";
const size_t kSystemPrefixLength = sizeof kSystemPrefix - 1;
const AdmissionFlags kForbidden = RequirementUnmet | ConflictFound;

// Names that must meet the system's minimum version.
bool isSystemPackage(const std::string& name) {
  return name == kSystemName || name.compare(0, kSystemPrefixLength, kSystemPrefix) == 0;
}

// One run of the check: the flags found so far and whether the one
// message of the check has been printed.
class AdmissionCheck {
 public:
  AdmissionCheck(PackageDb& db, const PackageInfo& candidate, uint32_t allowances)
      : db_(db), candidate_(candidate), allowances_(allowances), shownName_(displayName(candidate)) {}

  AdmissionFlags run() {
    checkInstalled();
    checkMinimumVersion();
    checkArchitecture();
    checkDependencies();
    checkConflicts();
    checkDeviceMode();
    return result_;
  }

 private:
  // True when a message for a condition that `allowance` silences is due
  // (0: nothing silences it); the caller then prints it. Only the first
  // message of a check is printed.
  bool claimMessage(uint32_t allowance) {
    if (reported_ || (allowances_ & allowance) != 0) return false;
    reported_ = true;
    return true;
  }

  // The installed branding is replaced by any branding candidate; whether
  // that is allowed was decided when the candidate was found.
  void checkInstalled() {
    const Package* installed = db_.find(candidate_.name);
    if (installed == nullptr || installed->name == kBrandingName) return;
    checkFlaggedState(*installed);
    compareWithInstalled(*installed);
  }

  // In flagged state an older build must not replace the installed one,
  // whatever its version number claims.
  void checkFlaggedState(const Package& installed) {
    if (installed.buildTime <= candidate_.buildTime || !flaggedState) return;
    if (claimMessage(0)) {
      db_.printWarning("cannot install older %s: %s", shownName_.c_str(), "router in flagged state");
    }
    result_ = kForbidden;
  }

  void compareWithInstalled(const Package& installed) {
    int order = comparePackages(candidate_, installed);
    if (order < 0) {
      if (claimMessage(AllowDowngrade)) {
        db_.printWarning("omitting package %s: newer package %s is already installed",
                         shownName_.c_str(), displayName(installed).c_str());
      }
      result_ |= OlderThanInstalled;
    } else if (order == 0) {
      if (claimMessage(AllowReinstall)) {
        db_.printWarning("omitting package %s: it is already installed", shownName_.c_str());
      }
      result_ |= SameAsInstalled;
    }
  }

  void checkMinimumVersion() {
    if (!isSystemPackage(candidate_.name)) return;
    const PackageVersion minimum = getMinKvoVersion();
    if (candidate_.version >= minimum) return;
    if (claimMessage(AllowUnmet)) {
      db_.printError("omitting package %s: min Kestavin version is %s", shownName_.c_str(),
                     version2string(minimum).c_str());
    }
    result_ |= RequirementUnmet;
  }

  // A record without an architecture (read from database files alone)
  // fits any system.
  void checkArchitecture() {
    if (candidate_.architecture.empty() || candidate_.architecture == db_.architecture) return;
    if (claimMessage(AllowUnmet)) {
      db_.printError("can not install %s: it is not made for %s, but for %s", shownName_.c_str(),
                     db_.architecture.c_str(), candidate_.architecture.c_str());
    }
    result_ |= RequirementUnmet;
  }

  // Disabled providers count: enabling them is the schedule's business.
  // Only the first missing dependency is named.
  void checkDependencies() {
    for (const PackageRef& requirement : candidate_.depends) {
      if (!db_.providersOf(requirement).empty()) continue;
      if (claimMessage(AllowUnmet)) {
        db_.printError("can not install %s: %s is not installed, but is required",
                       shownName_.c_str(), refDisplayName(requirement).c_str());
      }
      result_ |= RequirementUnmet;
      return;
    }
  }

  void checkConflicts() {
    const Package* conflicting = db_.findConflicting(candidate_);
    if (conflicting == nullptr) return;
    if (claimMessage(AllowConflict)) {
      db_.printError("can not install %s: it conflicts with %s", shownName_.c_str(),
                     displayName(*conflicting).c_str());
    }
    result_ |= ConflictFound;
  }

  // "/ram/SECURE" lifts the device-mode restriction.
  void checkDeviceMode() {
    if (candidate_.allowedByDeviceMode() || nv::fileExists(paths::kSecureMarker, 0)) return;
    if (claimMessage(0)) {
      db_.printError("will not install package %s, not allowed by device-mode", shownName_.c_str());
    }
    result_ |= kForbidden;
  }

  PackageDb& db_;
  const PackageInfo& candidate_;
  const uint32_t allowances_;
  const std::string shownName_;
  AdmissionFlags result_ = 0;
  bool reported_ = false;
};

}  // namespace

AdmissionFlags checkAdmission(PackageDb& db, const PackageInfo& candidate, uint32_t allowances) {
  return AdmissionCheck(db, candidate, allowances).run();
}

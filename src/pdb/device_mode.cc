#include "pdb/device_mode.h"

#include "pdb/package.h"
#include "platform/nv.h"

namespace {

const char kRestrictedName[] = "system";

// The starting contents the platform expects of a value record before
// assign: flags 0-1 off, 2-17 on, 18-19 off (so unrestricted is off).
void setDefaults(nv::KVOModeValue& value) {
  for (int i = 0; i < nv::KVOModeValue::kFlagCount; ++i) value.flags[i] = (i >= 2 && i < 18) ? 1 : 0;
}

bool isUnrestricted(const nv::message& deviceMode) {
  nv::message valueMessage(deviceMode.get(1));
  nv::KVOModeValue value;
  setDefaults(value);
  value.assign(valueMessage);
  return value.flags[nv::KVOModeValue::kUnrestrictedFlag] != 0;
}

bool inRange(const nv::SafePkgRange& range, PackageVersion version, uint32_t buildTime) {
  return range.minVersion <= version && version <= range.maxVersion && range.minBuildTime <= buildTime &&
         buildTime <= range.maxBuildTime;
}

}  // namespace

bool readFlaggedState() { return nv::kvoMode().bytes[1] != 0; }

bool flaggedState = readFlaggedState();

bool PackageInfo::allowedByDeviceMode() const {
  if (name != kRestrictedName) return true;
  nv::message deviceMode = nv::KVOMode::loadMsg();
  if (isUnrestricted(deviceMode)) return true;
  nv::SafePkgs safe(deviceMode);
  if (safe.ranges.empty()) return true;
  for (const nv::SafePkgRange& range : safe.ranges) {
    if (inRange(range, version, buildTime)) return true;
  }
  return false;
}

// Stand-in for the platform configuration library: the few operations the
// installer calls, backed by the platform's own settings store instead of
// the closed library. The store is read once, when the process starts and
// before any root change, from the file named by KESTAVIN_PLATFORM_SETTINGS
// (or "/rw/platform/settings"); later calls only look at what was read.
//
// Settings text, one entry per line, words separated by blanks or tabs,
// numbers decimal or "0x" hexadecimal (32-bit), "#" starts a comment:
//   unrestricted 0|1          device mode does not restrict "system"
//   flagged 0|1               router is in flagged state
//   min-version N             lowest packed system version accepted
//   safe MINVER MAXVER MINBUILD MAXBUILD   one allowed range, repeatable
// Unknown keys and malformed lines are ignored. A missing file reads as
// no entries: restricted mode off, not flagged, minimum 0, no ranges.
#ifndef PLATFORM_NV_H_
#define PLATFORM_NV_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

namespace nv {

// The settings store, and the environment variable that names another.
const char kSettingsPath[] = "/rw/platform/settings";
const char kSettingsEnv[] = "KESTAVIN_PLATFORM_SETTINGS";

// One allowed range of system builds; all bounds inclusive.
struct SafePkgRange {
  uint32_t minVersion = 0;
  uint32_t maxVersion = 0;
  uint32_t minBuildTime = 0;
  uint32_t maxBuildTime = 0;
  // Carried by the platform's records; the installer does not consult it.
  uint32_t reserved = 0;
};

// What the settings store holds.
struct Settings {
  bool unrestricted = false;
  bool flagged = false;
  uint32_t minVersion = 0;
  std::vector<SafePkgRange> safeRanges;
};

// Parses settings text as described above; never fails.
Settings parseSettings(const std::string& text);
// Replaces the current settings with those of the file at `path`. False
// (and the defaults) when the file cannot be read. Meant for tests and for
// the start-up read; nothing calls it implicitly later.
bool loadSettings(const std::string& path);
// Replaces the current settings. For tests.
void setSettingsForTest(const Settings& settings);
// Every device-mode call appends its name here while `trace` is set
// ("loadMsg", "get 1", "message", "assign", "SafePkgs"). For tests; null
// switches tracing off.
void setCallTraceForTest(std::vector<std::string>* trace);

// True when something exists at `path`. Callers pass 0 as `flags`; no
// flag changes the answer.
bool fileExists(const std::string& path, int flags);

// The current device-mode record. Byte 1 is non-zero while the router is
// in flagged state; the other bytes mean nothing to the installer.
struct KVOModeRecord {
  uint8_t bytes[4];
};
const KVOModeRecord& kvoMode();

class message;

// One element of a message, as message::get hands it out.
class flat_message {
 public:
  flat_message() = default;

 private:
  friend class message;
  std::shared_ptr<const Settings> settings_;
};

// A device-mode configuration message. In this stand-in a message simply
// carries the settings it was built from; an empty message carries none.
class message {
 public:
  message() = default;
  explicit message(const flat_message& element);

  // The element with `id`; id 1 holds the device-mode value. An unknown
  // id yields an empty element.
  flat_message get(uint32_t id) const;

 private:
  friend class KVOMode;
  friend class KVOModeValue;
  friend class SafePkgs;
  std::shared_ptr<const Settings> settings_;
};

class KVOMode {
 public:
  // The device-mode configuration. `failed`, when given, is set to false.
  static message loadMsg(bool* failed = nullptr);
};

// The device-mode value. The caller gives every member its starting value;
// assign overwrites only what the message carries.
class KVOModeValue {
 public:
  static const int kFlagCount = 20;
  // Index of the flag that lifts the restriction on system builds.
  static const int kUnrestrictedFlag = 19;

  // Sets the unrestricted flag from `element` when it carries settings.
  void assign(const message& element);

  uint8_t flags[kFlagCount] = {};
};

// The allowed system builds, in the order the settings list them.
class SafePkgs {
 public:
  explicit SafePkgs(const message& deviceMode);

  std::vector<SafePkgRange> ranges;
};

}  // namespace nv

// Lowest packed system version this system accepts.
uint32_t getMinKvoVersion();
// Text of a packed version, as the platform prints it: "7.1", "7.1beta3",
// "7.1rc2", "7.1.5", "7.1_ab12".
std::string version2string(uint32_t version);

#endif  // PLATFORM_NV_H_

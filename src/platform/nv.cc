#include "platform/nv.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/regular_file.h"


namespace nv {

namespace {

// Kinds up to this value mean "no kind": the low 16 bits are one build number.
const uint32_t kLastPlainKind = 0x60;

// The text between "major.minor" and the build number of a version with a
// kind. A final release spells its build as a third number, "7.1.5", and
// reads as plain "7.1" without one.
const char* kindSeparator(uint32_t kind, uint32_t build) {
  switch (kind) {
    case 'a':
      return "alpha";
    case 'b':
      return "beta";
    case 'c':
      return "rc";
    case 'f':
      return build != 0 ? "." : "";
    default:
      return "";
  }
}


std::vector<std::string>* callTrace = nullptr;

void traceCall(const char* name) {
  if (callTrace != nullptr) callTrace->push_back(name);
}

// Decimal or "0x" hexadecimal, no sign, must fit 32 bits.
bool parseNumber(const std::string& word, uint32_t* value) {
  int base = 10;
  size_t start = 0;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    base = 16;
    start = 2;
  }
  if (start >= word.size()) return false;
  uint64_t result = 0;
  for (size_t i = start; i < word.size(); ++i) {
    char c = word[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<uint32_t>(result);
  return true;
}

bool parseFlag(const std::string& word, bool* flag) {
  if (word != "0" && word != "1") return false;
  *flag = word == "1";
  return true;
}

std::vector<std::string> wordsOf(const std::string& line) {
  std::string content = line.substr(0, line.find('#'));
  for (char& c : content) {
    if (c == '\t' || c == '\r') c = ' ';
  }
  std::istringstream in(content);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

bool parseSafeRange(const std::vector<std::string>& words, SafePkgRange* range) {
  return words.size() == 5 && parseNumber(words[1], &range->minVersion) &&
         parseNumber(words[2], &range->maxVersion) && parseNumber(words[3], &range->minBuildTime) &&
         parseNumber(words[4], &range->maxBuildTime);
}

// Applies one line; a malformed line leaves `settings` as it was.
void applyLine(const std::vector<std::string>& words, Settings* settings) {
  if (words.empty()) return;
  const std::string& key = words[0];
  if (key == "safe") {
    SafePkgRange range;
    if (parseSafeRange(words, &range)) settings->safeRanges.push_back(range);
    return;
  }
  if (words.size() != 2) return;
  if (key == "unrestricted") {
    parseFlag(words[1], &settings->unrestricted);
  } else if (key == "flagged") {
    parseFlag(words[1], &settings->flagged);
  } else if (key == "min-version") {
    parseNumber(words[1], &settings->minVersion);
  }
}

std::string settingsPath() {
  const char* fromEnvironment = getenv(nv::kSettingsEnv);
  if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return fromEnvironment;
  return nv::kSettingsPath;
}

std::shared_ptr<const Settings> readSettingsFile(const std::string& path, bool* found) {
  std::string text;
  FileRead read = readRegularFile(path, kSettingsFileLimit, &text);
  *found = read != FileRead::kMissing;
  // A file too long to be real settings is taken as holding none.
  if (read == FileRead::kTooLong) text.clear();
  return std::make_shared<const Settings>(parseSettings(text));
}

// What the process knows of the platform: the settings and the device-mode
// record derived from them, kept consistent by publish.
struct Store {
  std::shared_ptr<const Settings> settings;
  KVOModeRecord record = {};
};

void publishInto(Store& target, std::shared_ptr<const Settings> settings) {
  target.record.bytes[1] = settings->flagged ? 1 : 0;
  target.settings = std::move(settings);
}

// Read on first use, whichever start-up initialiser comes first.
Store& store() {
  static Store current = [] {
    Store initial;
    bool found;
    publishInto(initial, readSettingsFile(settingsPath(), &found));
    return initial;
  }();
  return current;
}

void publish(std::shared_ptr<const Settings> settings) { publishInto(store(), std::move(settings)); }

// The store must be read before the command line changes the root.
[[maybe_unused]] const bool startupRead = (store(), true);

}  // namespace

Settings parseSettings(const std::string& text) {
  Settings settings;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) applyLine(wordsOf(line), &settings);
  return settings;
}

bool loadSettings(const std::string& path) {
  bool found;
  publish(readSettingsFile(path, &found));
  return found;
}

void setSettingsForTest(const Settings& settings) {
  publish(std::make_shared<const Settings>(settings));
}

void setCallTraceForTest(std::vector<std::string>* trace) { callTrace = trace; }

bool fileExists(const std::string& path, int) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

const KVOModeRecord& kvoMode() { return store().record; }

message::message(const flat_message& element) : settings_(element.settings_) {
  traceCall("message");
}

flat_message message::get(uint32_t id) const {
  traceCall(id == 1 ? "get 1" : "get");
  flat_message element;
  if (id == 1) element.settings_ = settings_;
  return element;
}

message KVOMode::loadMsg(bool* failed) {
  traceCall("loadMsg");
  if (failed != nullptr) *failed = false;
  message deviceMode;
  deviceMode.settings_ = store().settings;
  return deviceMode;
}

void KVOModeValue::assign(const message& element) {
  traceCall("assign");
  if (element.settings_) flags[kUnrestrictedFlag] = element.settings_->unrestricted ? 1 : 0;
}

SafePkgs::SafePkgs(const message& deviceMode) {
  traceCall("SafePkgs");
  if (deviceMode.settings_) ranges = deviceMode.settings_->safeRanges;
}

}  // namespace nv

uint32_t getMinKvoVersion() { return nv::store().settings->minVersion; }

std::string version2string(uint32_t version) {
  const unsigned major = version >> 24;
  const unsigned minor = (version >> 16) & 0xFF;
  using nv::kLastPlainKind;
  using nv::kindSeparator;
  const unsigned kind = (version >> 8) & 0xFF;
  char text[80];
  if (kind <= kLastPlainKind) {
    const unsigned build = version & 0xFFFF;
    if (build != 0) {
      snprintf(text, sizeof text, "%u.%u_ab%u", major, minor, build);
    } else {
      snprintf(text, sizeof text, "%u.%u", major, minor);
    }
    return text;
  }
  const unsigned build = version & 0xFF;
  const char* separator = kindSeparator(kind, build);
  if (build != 0) {
    snprintf(text, sizeof text, "%u.%u%s%u", major, minor, separator, build);
  } else {
    snprintf(text, sizeof text, "%u.%u%s", major, minor, separator);
  }
  return text;
}

#include "description.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

#include <map>

#include "pdb/calendar.h"
#include "version_text.h"

namespace {

const size_t kMaxNameLength = 16;

typedef bool (*FieldSetter)(const std::string& value, const std::string& baseDir,
                            PackageDescription* description, std::string* error);

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool parseYesNo(const std::string& value, bool* flag, std::string* error) {
  if (value == "yes" || value == "true" || value == "1") {
    *flag = true;
  } else if (value == "no" || value == "false" || value == "0") {
    *flag = false;
  } else {
    *error = "'" + value + "' is not yes or no";
    return false;
  }
  return true;
}

bool parseWord(const std::string& value, uint32_t* word, std::string* error) {
  char* end = nullptr;
  errno = 0;
  unsigned long long number = value.empty() || value[0] == '-' ? 0 : strtoull(value.c_str(), &end, 0);
  if (value.empty() || value[0] == '-' || *end != '\0' || errno != 0 || number > 0xFFFFFFFFull) {
    *error = "'" + value + "' is not a number from 0 to 0xffffffff";
    return false;
  }
  *word = uint32_t(number);
  return true;
}

std::string directoryPath(const std::string& value, const std::string& baseDir) {
  return value[0] == '/' ? value : baseDir + value;
}

bool setName(const std::string& value, const std::string&, PackageDescription* d,
             std::string* error) {
  if (!validPackageName(value)) {
    *error = "'" + value + "' is not a package name (1 to 16 of A-Z a-z 0-9 . _ + -, no leading '.')";
    return false;
  }
  d->info.name = value;
  return true;
}

bool setVersion(const std::string& value, const std::string&, PackageDescription* d,
                std::string* error) {
  d->versionGiven = parseVersionText(value, &d->info.version, error);
  return d->versionGiven;
}

bool setBuildTime(const std::string& value, const std::string&, PackageDescription* d,
                  std::string* error) {
  uint32_t ignored;
  if (!parseBuildTime(value, 0, &ignored, error)) return false;
  d->buildTime = value;
  return true;
}

bool setArchitecture(const std::string& value, const std::string&, PackageDescription* d,
                     std::string*) {
  d->info.architecture = value;
  return true;
}

bool setNote(const std::string& value, const std::string&, PackageDescription* d, std::string*) {
  d->info.note = value;
  return true;
}

bool setFlags(const std::string& value, const std::string&, PackageDescription* d,
              std::string* error) {
  uint32_t word;
  if (!parseWord(value, &word, error)) return false;
  d->flags = word;
  return true;
}

bool setBootImage(const std::string& value, const std::string&, PackageDescription* d,
                  std::string* error) {
  bool flag;
  if (!parseYesNo(value, &flag, error)) return false;
  d->bootImage = flag;
  return true;
}

bool setNoMeta(const std::string& value, const std::string&, PackageDescription* d,
               std::string* error) {
  bool flag;
  if (!parseYesNo(value, &flag, error)) return false;
  d->noMeta = flag;
  return true;
}

bool setUnrecorded(const std::string& value, const std::string&, PackageDescription* d,
                   std::string* error) {
  return parseYesNo(value, &d->unrecorded, error);
}

// Items separated by commas or line ends; empty items are ignored.
bool addReferences(const std::string& value, bool withPriority, std::vector<PackageRef>* list,
                   std::string* error) {
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find_first_of(",\n", start);
    if (end == std::string::npos) end = value.size();
    std::string item = trimmed(value.substr(start, end - start));
    if (!item.empty()) {
      PackageRef ref;
      if (!parseReference(item, withPriority, &ref, error)) return false;
      list->push_back(ref);
    }
    start = end + 1;
  }
  return true;
}

bool addDepends(const std::string& value, const std::string&, PackageDescription* d,
                std::string* error) {
  return addReferences(value, false, &d->info.depends, error);
}

bool addProvides(const std::string& value, const std::string&, PackageDescription* d,
                 std::string* error) {
  return addReferences(value, true, &d->info.provides, error);
}

bool addConflicts(const std::string& value, const std::string&, PackageDescription* d,
                  std::string* error) {
  return addReferences(value, false, &d->info.conflicts, error);
}

bool setFiles(const std::string& value, const std::string& baseDir, PackageDescription* d,
              std::string* error) {
  if (value.empty()) {
    *error = "no directory given";
    return false;
  }
  d->filesDir = directoryPath(value, baseDir);
  return true;
}

bool setImage(const std::string& value, const std::string& baseDir, PackageDescription* d,
              std::string* error) {
  if (value.empty()) {
    *error = "no directory given";
    return false;
  }
  d->imageDir = directoryPath(value, baseDir);
  return true;
}

bool addSkip(const std::string& value, const std::string&, PackageDescription* d,
             std::string* error) {
  std::string path = value.substr(value.find_first_not_of('/') == std::string::npos
                                      ? value.size()
                                      : value.find_first_not_of('/'));
  if (path.empty()) {
    *error = "no path given";
    return false;
  }
  d->skipPaths.push_back(path);
  return true;
}

bool setDigest(const std::string& value, const std::string&, PackageDescription* d,
               std::string* error) {
  if (value == "sha256" || value == "sha-256" || value == "SHA-256") {
    d->sha256 = true;
  } else if (value == "sha1" || value == "sha-1" || value == "SHA-1") {
    d->sha256 = false;
  } else {
    *error = "'" + value + "' is not sha256 or sha1";
    return false;
  }
  return true;
}

bool setTrailingArchitecture(const std::string& value, const std::string&,
                             PackageDescription* d, std::string*) {
  d->trailingArchitecture = value;
  return true;
}

struct Field {
  FieldSetter set;
  bool list;  // may be given more than once
  bool flag;  // takes no value on the command line
};

const std::map<std::string, Field>& fields() {
  static const std::map<std::string, Field> table = {
      {"name", {setName, false, false}},
      {"version", {setVersion, false, false}},
      {"build-time", {setBuildTime, false, false}},
      {"architecture", {setArchitecture, false, false}},
      {"note", {setNote, false, false}},
      {"flags", {setFlags, false, false}},
      {"boot-image", {setBootImage, false, true}},
      {"no-meta", {setNoMeta, false, true}},
      {"depends", {addDepends, true, false}},
      {"provides", {addProvides, true, false}},
      {"conflicts", {addConflicts, true, false}},
      {"files", {setFiles, false, false}},
      {"image", {setImage, false, false}},
      {"skip", {addSkip, true, false}},
      {"digest", {setDigest, false, false}},
      {"unrecorded", {setUnrecorded, false, true}},
      {"trailing-architecture", {setTrailingArchitecture, false, false}},
  };
  return table;
}

// Keys that only a package, or only a bundle, may carry.
const char* const kPackageOnlyKeys[] = {"depends", "provides", "conflicts", "files", "skip",
                                        "digest"};
const char* const kBundleOnlyKeys[] = {"trailing-architecture"};

bool refuseKeys(const PackageDescription& d, const char* const* keys, size_t count,
                const char* kindName, std::string* error) {
  for (size_t i = 0; i < count; ++i) {
    if (d.keysGiven.count(keys[i]) == 0) continue;
    *error = std::string("'") + keys[i] + "' does not belong in " + kindName;
    return false;
  }
  return true;
}

uint32_t headerFlags(const PackageDescription& d) {
  uint32_t flags = d.flags.value_or(0);
  if (d.bootImage) flags = *d.bootImage ? flags | PackageInfo::bootImageFlag
                                        : flags & ~PackageInfo::bootImageFlag;
  if (d.noMeta) flags = *d.noMeta ? flags | PackageInfo::noMetaFlag
                                  : flags & ~PackageInfo::noMetaFlag;
  return flags;
}

// A text line split into key and value; false when there is no colon.
bool splitField(const std::string& line, std::string* key, std::string* value) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  *key = trimmed(line.substr(0, colon));
  *value = trimmed(line.substr(colon + 1));
  return !key->empty();
}

}  // namespace

bool keyBelongsIn(DescriptionKind kind, const std::string& key) {
  bool bundle = kind == DescriptionKind::kBundle;
  const char* const* keys = bundle ? kPackageOnlyKeys : kBundleOnlyKeys;
  size_t count = bundle ? sizeof kPackageOnlyKeys / sizeof *kPackageOnlyKeys
                        : sizeof kBundleOnlyKeys / sizeof *kBundleOnlyKeys;
  for (size_t i = 0; i < count; ++i) {
    if (key == keys[i]) return false;
  }
  return true;
}

bool validPackageName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength || name[0] == '.') return false;
  for (char c : name) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '.' && c != '_' && c != '+' && c != '-') return false;
  }
  return true;
}

bool applyDescriptionField(const std::string& key, const std::string& value,
                           const std::string& baseDir, PackageDescription* description,
                           std::string* error) {
  auto field = fields().find(key);
  if (field == fields().end()) {
    *error = "unknown key '" + key + "'";
    return false;
  }
  std::string fault;
  if (!field->second.set(value, baseDir, description, &fault)) {
    *error = key + ": " + fault;
    return false;
  }
  description->keysGiven.insert(key);
  return true;
}

bool isFlagField(const std::string& key) {
  auto field = fields().find(key);
  return field != fields().end() && field->second.flag;
}

const std::vector<std::string>& descriptionKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> all;
    for (const auto& field : fields()) all.push_back(field.first);
    return all;
  }();
  return keys;
}

namespace {

// Collects one field across its continuation lines, then applies it.
class FieldCollector {
 public:
  FieldCollector(const std::string& origin, const std::string& baseDir,
                 PackageDescription* description)
      : origin_(origin), baseDir_(baseDir), description_(description) {}

  bool line(const std::string& text, int number, std::string* error) {
    std::string content = trimmed(text);
    if (content.empty() || content[0] == '#') return true;
    if (text[0] == ' ' || text[0] == '\t') {
      if (key_.empty()) return fail(number, "continuation line without a field", error);
      value_ += "\n" + content;
      return true;
    }
    if (!flush(error)) return false;
    if (!splitField(content, &key_, &value_)) {
      return fail(number, "expected 'key: value', found '" + content + "'", error);
    }
    line_ = number;
    return true;
  }

  // Applies the field collected so far.
  bool flush(std::string* error) {
    if (key_.empty()) return true;
    std::string key = key_;
    key_.clear();
    auto field = fields().find(key);
    if (field != fields().end() && !field->second.list && !seen_.insert(key).second) {
      return fail(line_, "'" + key + "' given twice", error);
    }
    std::string fault;
    if (!applyDescriptionField(key, value_, baseDir_, description_, &fault)) {
      return fail(line_, fault, error);
    }
    return true;
  }

 private:
  bool fail(int number, const std::string& fault, std::string* error) {
    *error = origin_ + ":" + std::to_string(number) + ": " + fault;
    return false;
  }

  std::string origin_;
  std::string baseDir_;
  PackageDescription* description_;
  std::set<std::string> seen_;
  std::string key_;
  std::string value_;
  int line_ = 0;
};

}  // namespace

bool parseDescriptionText(const std::string& text, const std::string& origin,
                          const std::string& baseDir, PackageDescription* description,
                          std::string* error) {
  FieldCollector collector(origin, baseDir, description);
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (!collector.line(text.substr(start, end - start), ++number, error)) return false;
    start = end + 1;
  }
  return collector.flush(error);
}

bool finishDescription(DescriptionKind kind, time_t now, PackageDescription* d,
                       std::string* error) {
  bool bundle = kind == DescriptionKind::kBundle;
  const char* kindName = bundle ? "a bundle" : "a package";
  if (d->info.name.empty()) {
    *error = std::string("no name given for ") + kindName;
    return false;
  }
  if (!d->versionGiven) {
    *error = std::string("no version given for ") + kindName;
    return false;
  }
  bool fits = bundle ? refuseKeys(*d, kPackageOnlyKeys, sizeof kPackageOnlyKeys / sizeof *kPackageOnlyKeys,
                                  kindName, error)
                     : refuseKeys(*d, kBundleOnlyKeys, sizeof kBundleOnlyKeys / sizeof *kBundleOnlyKeys,
                                  kindName, error);
  if (!fits) return false;
  d->info.buildTime = uint32_t(now);
  if (!d->buildTime.empty() && !parseBuildTime(d->buildTime, now, &d->info.buildTime, error)) {
    return false;
  }
  d->info.headerFlags = headerFlags(*d);
  d->info.isBundle = bundle;
  return true;
}

namespace {

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Reads `width` digits at `*at`.
bool readField(const std::string& text, size_t* at, size_t width, int* value) {
  if (*at + width > text.size() || !allDigits(text.substr(*at, width))) return false;
  *value = atoi(text.substr(*at, width).c_str());
  *at += width;
  return true;
}

bool expectChar(const std::string& text, size_t* at, const char* allowed) {
  if (*at >= text.size() || std::string(allowed).find(text[*at]) == std::string::npos) {
    return false;
  }
  ++*at;
  return true;
}

struct DateFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "YYYY-MM-DD" at the start of the text.
bool readDay(const std::string& text, size_t* at, DateFields* date) {
  return readField(text, at, 4, &date->year) && expectChar(text, at, "-") &&
         readField(text, at, 2, &date->month) && expectChar(text, at, "-") &&
         readField(text, at, 2, &date->day);
}

// " HH:MM[:SS]" or "THH:MM[:SS]", when anything but "Z" follows the day.
bool readClock(const std::string& text, size_t* at, DateFields* date) {
  if (*at == text.size() || text[*at] == 'Z') return true;
  if (!expectChar(text, at, " T") || !readField(text, at, 2, &date->hour) ||
      !expectChar(text, at, ":") || !readField(text, at, 2, &date->minute)) {
    return false;
  }
  if (*at == text.size() || text[*at] != ':') return true;
  ++*at;
  return readField(text, at, 2, &date->second);
}

// The seconds of a UTC date; false for a day or time that does not exist.
bool dateSeconds(const DateFields& date, int64_t* seconds) {
  CalendarTime time;
  time.year = date.year;
  time.month = date.month;
  time.day = date.day;
  time.hour = date.hour;
  time.minute = date.minute;
  time.second = date.second;
  return secondsSince1970(time, seconds);
}

// "YYYY-MM-DD[ HH:MM[:SS]]", optionally with 'T' and a trailing 'Z'.
bool parseDate(const std::string& text, int64_t* seconds) {
  DateFields date;
  size_t at = 0;
  if (!readDay(text, &at, &date) || !readClock(text, &at, &date)) return false;
  if (at < text.size() && text[at] == 'Z') ++at;
  return at == text.size() && dateSeconds(date, seconds);
}

}  // namespace

bool parseBuildTime(const std::string& text, time_t now, uint32_t* seconds, std::string* error) {
  // Compared at 64 bits: a 32-bit time_t cannot hold the later half of
  // the build times.
  int64_t value = int64_t(now);
  bool ok = text == "now";
  if (!ok && allDigits(text) && text.size() <= 10) {
    value = int64_t(strtoll(text.c_str(), nullptr, 10));
    ok = true;
  }
  if (!ok) ok = parseDate(text, &value);
  if (!ok || value < 0 || value > int64_t(UINT32_MAX)) {
    *error = "'" + text +
             "' is not a build time (seconds since 1970, YYYY-MM-DD HH:MM:SS in UTC, or now)";
    return false;
  }
  *seconds = uint32_t(value);
  return true;
}

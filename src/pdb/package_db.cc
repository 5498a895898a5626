// Loading the installed set: records from kept package images first, then
// from the descriptive files of entries no image described; each record is
// completed with its enabled state and its scheduled action. Loading only
// reads; nothing on disk changes.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <set>
#include <utility>

#include "pdb/database_listing.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "platform/regular_file.h"

namespace {

// Strict unsigned decimal: digits only, at most 32 bits.
bool parseUnsigned(const std::string& word, uint32_t* value) {
  if (word.empty() || word.size() > 10) return false;
  uint64_t number = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// Signed decimal with an optional sign, within 32 bits.
bool parseSigned(const std::string& word, int32_t* value) {
  bool negative = !word.empty() && word[0] == '-';
  bool signedWord = negative || (!word.empty() && word[0] == '+');
  uint32_t magnitude = 0;
  if (!parseUnsigned(signedWord ? word.substr(1) : word, &magnitude)) return false;
  if (magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu)) return false;
  *value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                    : static_cast<int32_t>(magnitude);
  return true;
}

// The whitespace-delimited words of a text, one after another, cut where
// `std::istream >> std::string` cuts them in the C locale.
class Words {
 public:
  explicit Words(const std::string& text) : text_(text) {}

  // False when no word is left.
  bool next(std::string* word) {
    while (position_ < text_.size() && isBlank(text_[position_])) ++position_;
    if (position_ == text_.size()) return false;
    size_t start = position_;
    while (position_ < text_.size() && !isBlank(text_[position_])) ++position_;
    word->assign(text_, start, position_ - start);
    return true;
  }
  bool nextUnsigned(uint32_t* value) {
    std::string word;
    return next(&word) && parseUnsigned(word, value);
  }
  bool nextSigned(int32_t* value) {
    std::string word;
    return next(&word) && parseSigned(word, value);
  }

 private:
  static bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

  const std::string& text_;
  size_t position_ = 0;
};

// The content of a database or schedule file; false when it is missing,
// no regular file or longer than `limit` (which its readers take as
// malformed).
bool readWhole(const std::string& path, size_t limit, std::string* content) {
  return readRegularFile(path, limit, content) == FileRead::kRead;
}

// The first whitespace-delimited word of a small file; empty when there is
// none.
std::string firstWord(const std::string& path) {
  std::string content;
  std::string word;
  if (readWhole(path, kSmallFileLimit, &content)) Words(content).next(&word);
  return word;
}

// The schedule directory drops every character of the name that is not an
// ASCII letter, digit or "-".
std::string cleanedName(const std::string& name) {
  std::string cleaned;
  for (char c : name) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '-';
    if (keep) cleaned += c;
  }
  return cleaned;
}

// The lines of a files file, each a path relative to the root with or
// without its leading "/"; empty lines are skipped. The file lists the
// paths in order as a rule, so each is added at the end first.
void addFileLines(const std::string& text, PathSet* files) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      std::string path;
      path.reserve(end - start + 1);
      if (text[start] != '/') path += '/';
      path.append(text, start, end - start);
      files->insert(path);
    }
    start = end + 1;
  }
}

// One entry directory and what it holds.
struct EntryFiles {
  EntryFiles(const std::string& path, const EntryContents& contents)
      : dir(path), present(contents) {}
  FileRead read(const char* name, size_t limit, std::string* content) const {
    content->clear();
    if (!present.mayHold(name)) return FileRead::kMissing;
    return readRegularFile(dir + name, limit, content);
  }
  bool refList(const char* name, std::vector<PackageRef>* list, bool withPriority) const {
    return !present.mayHold(name) || readRefList(dir + name, list, withPriority);
  }
  std::string firstWordOf(const char* name) const {
    return present.mayHold(name) ? firstWord(dir + name) : std::string();
  }

  std::string dir;
  EntryContents present;
};

void loadVersion(Package& package, const EntryFiles& entry) {
  std::string version;
  entry.read("version", kSmallFileLimit, &version);
  Words versionWords(version);
  if (!versionWords.nextUnsigned(&package.version) ||
      !versionWords.nextUnsigned(&package.buildTime)) {
    package.action = kActionUninstall;
  }
}

void loadRelations(Package& package, const EntryFiles& entry) {
  if (!entry.refList("deps", &package.depends, false)) package.action = kActionUninstall;
  if (!entry.refList("provides", &package.provides, true)) package.action = kActionUninstall;
  if (!entry.refList("conflicts", &package.conflicts, false)) {
    package.action = kActionUninstall;
  }
}

void loadBundleName(Package& package, const EntryFiles& entry) {
  // Its bundle is gone: a loaded bundle image would have described it.
  std::string bundleName = entry.firstWordOf("bundle");
  if (!bundleName.empty()) {
    package.bundle = PackageRef(bundleName, 0, 0, 0);
    package.action = kActionUninstall;
  }
}

void loadFileList(Package& package, const EntryFiles& entry) {
  std::string files;
  FileRead filesRead = entry.read("files", kDatabaseFileLimit, &files);
  package.isBundle = filesRead == FileRead::kMissing;
  if (filesRead == FileRead::kTooLong) {
    package.action = kActionUninstall;
    return;
  }
  addFileLines(files, &package.files);
}

// Descriptive files of an entry that no image described. A missing or
// malformed version file, or a malformed list, schedules the record's
// removal; a missing list is an empty one.
void loadDescription(Package& package, const EntryFiles& entry, PackageDb::LoadScope scope) {
  bool whole = scope == PackageDb::LoadScope::kWhole;
  loadVersion(package, entry);
  if (whole) loadRelations(package, entry);
  loadBundleName(package, entry);
  if (whole) loadFileList(package, entry);
}

void loadEnabledState(Package& package, const EntryFiles& entry) {
  package.userChoice = false;
  std::string disabled;
  if (entry.read("disabled", kSmallFileLimit, &disabled) != FileRead::kMissing) {
    package.disabled = true;
    package.userChoice = disabled.compare(0, disabled.find('\n'), "auto") != 0;
    return;
  }
  package.disabled = false;
  std::string enabled;
  if (entry.read("enabled", kSmallFileLimit, &enabled) != FileRead::kMissing) {
    package.userChoice = true;
  }
}

void loadSchedule(Package& package, const DirectoryNames& scheduled) {
  std::string cleaned = cleanedName(package.name);
  // A name with nothing left names the file "schedule" in the root itself.
  if (!scheduled.mayHold(cleaned.empty() ? "schedule" : cleaned)) return;
  std::string path = std::string(paths::kScheduleRoot) + cleaned + "/schedule";
  std::string word = firstWord(path);
  if (word == actionWord(kActionUninstall)) {
    package.action = kActionUninstall;
  } else if (word == actionWord(kActionEnable)) {
    package.action = kActionEnable;
    package.userChoice = true;
  } else if (word == actionWord(kActionDisable)) {
    package.action = kActionDisable;
    package.userChoice = true;
  }
}

void loadPackageState(Package& package, const EntryContents& contents,
                      const DirectoryNames& scheduled, PackageDb::LoadScope scope);

PackageDb* makeActiveDatabase() {
  PackageDb* database = new PackageDb();
  Console::setActive(database);
  return database;
}

}  // namespace

bool isEntryName(const std::string& name) { return !name.empty() && name[0] != '.'; }

std::string databaseEntryDir(const std::string& name) {
  return std::string(paths::kDatabaseRoot) + name + "/";
}

PackageDb& PackageDb::instance() {
  // Lives until the process ends; nothing destroys it.
  static PackageDb* const database = makeActiveDatabase();
  return *database;
}

PackageDb::~PackageDb() {
  for (Package* package : packages) delete package;
}

bool PackageDb::openRepository(bool quietConsole, const std::string& systemArchitecture,
                               LoadScope scope) {
  quiet = quietConsole;
  architecture = systemArchitecture;
  DatabaseListing listing;
  if (!listing.list(paths::kDatabaseRoot)) {
    printWarning("could not open repo");
    return true;
  }
  loadEntryImages(listing);
  int readError = listing.readError();
  if (readError == 0) {
    loadKeptImages(listing);
    loadEntriesWithoutImage(listing, scope);
    return true;
  }
  fprintf(stderr, "readdir %s: %s\n", paths::kDatabaseRoot, strerror(readError));
  return false;
}

// Completes the records read from images with their state, and adds a
// record for every entry that no image described.
void PackageDb::loadEntriesWithoutImage(const DatabaseListing& listing, LoadScope scope) {
  // The listing reads no schedule.
  const DirectoryNames scheduled =
      scope == LoadScope::kWhole ? DirectoryNames(paths::kScheduleRoot) : DirectoryNames();
  std::set<std::string> loaded;
  for (Package* package : packages) {
    loadPackageState(*package, listing.contentsOf(package->name), scheduled, scope);
    loaded.insert(package->name);
  }
  for (const DatabaseListing::Entry& entry : listing.entries()) {
    if (!loaded.insert(entry.name).second) continue;
    std::unique_ptr<Package> package(new Package(entry.name));
    loadPackageState(*package, entry.contents, scheduled, scope);
    packages.push_back(package.release());
  }
}

namespace {

void loadPackageState(Package& package, const EntryContents& contents,
                      const DirectoryNames& scheduled, PackageDb::LoadScope scope) {
  const EntryFiles entry(databaseEntryDir(package.name), contents);
  if (package.version == 0) loadDescription(package, entry, scope);
  loadEnabledState(package, entry);
  if (scope == PackageDb::LoadScope::kWhole && !package.isAllOnes()) {
    loadSchedule(package, scheduled);
  }
}

}  // namespace

void Package::loadState() {
  loadPackageState(*this, EntryContents::ofDirectory(databaseEntryDir(name)), DirectoryNames(),
                   PackageDb::LoadScope::kWhole);
}

bool readRefList(const std::string& path, std::vector<PackageRef>* list, bool withPriority) {
  std::string content;
  FileRead read = readRegularFile(path, kDatabaseFileLimit, &content);
  if (read == FileRead::kMissing) return true;
  if (read == FileRead::kTooLong) return false;
  Words words(content);
  std::string name;
  while (words.next(&name)) {
    PackageRef entry(name, 0, 0, 0);
    if (!words.nextUnsigned(&entry.minVersion) || !words.nextUnsigned(&entry.maxVersion)) {
      return false;
    }
    if (withPriority && !words.nextSigned(&entry.priority)) return false;
    list->push_back(entry);
  }
  return true;
}

// Loading the installed set: records from kept package images first, then
// from the descriptive files of entries no image described; each record is
// completed with its enabled state and its scheduled action. Loading only
// reads; nothing on disk changes.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <sstream>
#include <streambuf>

#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "platform/handles.h"
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

bool readUnsigned(std::istream& in, uint32_t* value) {
  std::string word;
  return static_cast<bool>(in >> word) && parseUnsigned(word, value);
}

bool readSigned(std::istream& in, int32_t* value) {
  std::string word;
  return static_cast<bool>(in >> word) && parseSigned(word, value);
}

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
  if (!readWhole(path, kSmallFileLimit, &content)) return std::string();
  std::istringstream in(content);
  std::string word;
  in >> word;
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

// The names a directory holds, listed once so that only the files present
// are opened: most entries lack most of the optional files. A directory
// that cannot be listed for another reason has every name tried.
class PresentNames {
 public:
  PresentNames() = default;
  explicit PresentNames(const std::string& dir) {
    DirectoryReader reader(dir);
    if (!reader.isOpen()) {
      // No directory there: no file below it could be opened either.
      listed_ = errno == ENOENT || errno == ENOTDIR;
      return;
    }
    std::string name;
    while (reader.next(&name)) names_.insert(name);
    listed_ = reader.error() == 0;
  }
  bool mayHold(const std::string& name) const { return !listed_ || names_.count(name) != 0; }

 private:
  bool listed_ = false;
  std::set<std::string> names_;
};

// One entry directory and what it holds.
struct EntryFiles {
  explicit EntryFiles(const std::string& path) : dir(path), present(path) {}
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
  PresentNames present;
};

// Descriptive files of an entry that no image described. A missing or
// malformed version file, or a malformed list, schedules the record's
// removal; a missing list is an empty one.
void loadDescription(Package& package, const EntryFiles& entry) {
  std::string version;
  entry.read("version", kSmallFileLimit, &version);
  std::istringstream versionFile(version);
  if (!readUnsigned(versionFile, &package.version) ||
      !readUnsigned(versionFile, &package.buildTime)) {
    package.action = kActionUninstall;
  }
  if (!entry.refList("deps", &package.depends, false)) package.action = kActionUninstall;
  if (!entry.refList("provides", &package.provides, true)) package.action = kActionUninstall;
  if (!entry.refList("conflicts", &package.conflicts, false)) {
    package.action = kActionUninstall;
  }
  // Its bundle is gone: a loaded bundle image would have described it.
  std::string bundleName = entry.firstWordOf("bundle");
  if (!bundleName.empty()) {
    package.bundle = PackageRef(bundleName, 0, 0, 0);
    package.action = kActionUninstall;
  }
  std::string files;
  FileRead filesRead = entry.read("files", kDatabaseFileLimit, &files);
  package.isBundle = filesRead == FileRead::kMissing;
  if (filesRead == FileRead::kTooLong) {
    package.action = kActionUninstall;
    return;
  }
  std::istringstream filesFile(files);
  std::string line;
  while (std::getline(filesFile, line)) {
    if (line.empty()) continue;
    package.files.insert(line[0] == '/' ? line : "/" + line);
  }
}

void loadEnabledState(Package& package, const EntryFiles& entry) {
  package.userChoice = false;
  std::string disabled;
  if (entry.read("disabled", kSmallFileLimit, &disabled) != FileRead::kMissing) {
    package.disabled = true;
    std::istringstream disabledFile(disabled);
    std::string firstLine;
    std::getline(disabledFile, firstLine);
    package.userChoice = firstLine != "auto";
    return;
  }
  package.disabled = false;
  std::string enabled;
  if (entry.read("enabled", kSmallFileLimit, &enabled) != FileRead::kMissing) {
    package.userChoice = true;
  }
}

void loadSchedule(Package& package, const PresentNames& scheduled) {
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

void loadPackageState(Package& package, const PresentNames& scheduled);

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

bool PackageDb::openRepository(bool quietConsole, const std::string& systemArchitecture) {
  quiet = quietConsole;
  architecture = systemArchitecture;
  int readError = 0;
  if (!loadImages(false, paths::kDatabaseRoot, &readError)) {
    printWarning("could not open repo");
    return true;
  }
  if (readError == 0) loadImages(true, paths::kKeptImagesDir, &readError);
  if (readError == 0) readError = loadEntriesWithoutImage();
  if (readError == 0) return true;
  fprintf(stderr, "readdir %s: %s\n", paths::kDatabaseRoot, strerror(readError));
  return false;
}

// Completes the records read from images with their state, and adds a
// record for every entry that no image described. 0, or the error of a
// failed directory read.
int PackageDb::loadEntriesWithoutImage() {
  DirectoryReader entries(paths::kDatabaseRoot);
  if (!entries.isOpen()) return errno;
  const PresentNames scheduled(paths::kScheduleRoot);
  std::set<std::string> loaded;
  for (Package* package : packages) {
    loadPackageState(*package, scheduled);
    loaded.insert(package->name);
  }
  std::string entryName;
  while (entries.next(&entryName)) {
    if (!isEntryName(entryName) || !loaded.insert(entryName).second) continue;
    std::unique_ptr<Package> package(new Package(entryName));
    loadPackageState(*package, scheduled);
    packages.push_back(package.release());
  }
  return entries.error();
}

namespace {

void loadPackageState(Package& package, const PresentNames& scheduled) {
  const EntryFiles entry(databaseEntryDir(package.name));
  if (package.version == 0) loadDescription(package, entry);
  loadEnabledState(package, entry);
  if (!package.isAllOnes()) loadSchedule(package, scheduled);
}

}  // namespace

void Package::loadState() { loadPackageState(*this, PresentNames()); }

bool readRefList(const std::string& path, std::vector<PackageRef>* list, bool withPriority) {
  std::string content;
  FileRead read = readRegularFile(path, kDatabaseFileLimit, &content);
  if (read == FileRead::kMissing) return true;
  if (read == FileRead::kTooLong) return false;
  std::istringstream in(content);
  std::string name;
  while (in >> name) {
    PackageRef entry(name, 0, 0, 0);
    if (!readUnsigned(in, &entry.minVersion) || !readUnsigned(in, &entry.maxVersion)) return false;
    if (withPriority && !readSigned(in, &entry.priority)) return false;
    list->push_back(entry);
  }
  // A read error is not the end of the list.
  return !in.bad();
}

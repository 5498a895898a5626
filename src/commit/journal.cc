#include "commit/journal.h"

#include <string.h>

#include <set>

#include "commit/change_action.h"
#include "commit/commit_paths.h"
#include "commit/durable_commit.h"
#include "commit/manifest.h"
#include "commit/staging_registry.h"
#include "console/console.h"

namespace {

// A journal or manifest names two paths per line; no real one comes near.
const size_t kMaxJournalBytes = 64u << 20;
const size_t kStagedNameLength = 9;  // "tmp" and six characters

const char kFinished[] = "finished an interrupted install";
const char kUnfinished[] = "could not finish the interrupted install of %s";
const char kUnfinishedUnnamed[] = "could not finish an interrupted install";
const char kRefusedLine[] = "refused journal line \"%s\"";
const char kUnreadable[] = "could not read %s: %s";

// The packages whose database entries the entries change (with
// `installedOnly`, those the entries write, not those they only remove).
std::vector<std::string> packagesOf(const ChangeEntries& entries, bool installedOnly = false) {
  std::set<std::string> names;
  size_t rootLength = strlen(paths::kDatabaseRoot);
  for (const auto& entry : entries) {
    const std::string& target = entry.first;
    if (installedOnly && !isMove(entry.second.kind)) continue;
    if (target.compare(0, rootLength, paths::kDatabaseRoot) != 0) continue;
    std::string name = target.substr(rootLength, target.find('/', rootLength) - rootLength);
    if (!name.empty() && name[0] != '.') names.insert(name);
  }
  return std::vector<std::string>(names.begin(), names.end());
}

void reportUnfinished(const std::vector<std::string>& packages) {
  if (packages.empty()) Console::active().printError(kUnfinishedUnnamed);
  for (const std::string& name : packages) Console::active().printError(kUnfinished, name.c_str());
}

void deleteJournalFiles(FileSystem& fs) {
  fs.unlink(paths::kJournal);
  fs.unlink(paths::kJournalApplying);
}

// The move sources a manifest or journal names; nothing when it is missing
// or unreadable.
void addNamedSources(FileSystem& fs, const char* path, bool escapedLines, std::set<std::string>* sources) {
  std::string text, badLine;
  if (fs.readFile(path, kMaxJournalBytes, &text) != 0) return;
  ChangeEntries entries;
  parseManifest(text, &entries, &badLine, escapedLines);
  for (const auto& entry : entries) {
    if (isMove(entry.second.kind)) sources->insert(entry.second.source);
  }
}

void removeUnnamed(FileSystem& fs, const std::string& directory, const std::set<std::string>& named,
                   bool stagedNamesOnly) {
  std::vector<std::string> names;
  if (fs.listDirectory(directory, &names) != 0) return;
  for (const std::string& name : names) {
    if (stagedNamesOnly && (name.size() != kStagedNameLength || name.compare(0, 3, "tmp") != 0)) {
      continue;
    }
    std::string path = directory + "/" + name;
    if (!named.count(path)) fs.unlink(path);
  }
}

}  // namespace

JournalOutcome finishInterruptedCommit(FileSystem& fs) {
  JournalOutcome outcome;
  if (!fs.exists(paths::kJournal)) {
    // A marker without its journal belongs to a commit that completed; a
    // journal never renamed into place belongs to one that changed nothing.
    if (fs.exists(paths::kJournalApplying)) fs.unlink(paths::kJournalApplying);
    if (fs.exists(paths::kJournalTemporary)) fs.unlink(paths::kJournalTemporary);
    return outcome;
  }
  outcome.found = true;
  std::string text, badLine;
  if (int error = fs.readFile(paths::kJournal, kMaxJournalBytes, &text)) {
    Console::active().printError(kUnreadable, paths::kJournal, strerror(error));
    deleteJournalFiles(fs);
    reportUnfinished(outcome.unfinished);
    return outcome;
  }
  ChangeEntries entries;
  ManifestRead read = parseManifest(text, &entries, &badLine, true);
  outcome.unfinished = packagesOf(entries);
  if (read != ManifestRead::Complete) {
    if (read == ManifestRead::Refused) Console::active().printError(kRefusedLine, badLine.c_str());
    deleteJournalFiles(fs);
    reportUnfinished(outcome.unfinished);
    return outcome;
  }
  DurableCommit commit(fs, entries, false);
  DurableCommit::Resumed resumed = commit.resume();
  if (resumed == DurableCommit::Resumed::Unfinished) outcome.unfinished = packagesOf(entries, true);
  if (resumed != DurableCommit::Resumed::Finished) {
    reportUnfinished(outcome.unfinished);
    return outcome;
  }
  outcome.finished = true;
  outcome.unfinished.clear();
  Console::active().printNotice(kFinished);
  return outcome;
}

void removeOrphanedStagedFiles(FileSystem& fs) {
  std::set<std::string> named;
  addNamedSources(fs, paths::kManifest, false, &named);
  addNamedSources(fs, paths::kJournal, true, &named);
  removeUnnamed(fs, paths::kStagingDir, named, false);
  for (const std::string& directory : registeredStagingDirectories(fs)) {
    removeUnnamed(fs, directory, named, false);
  }
  removeUnnamed(fs, paths::kRamDir, named, true);
  removeStaleReplacement(fs, paths::kManifest);
  FileStatus old;
  if (fs.status(paths::kOldStreamImage, &old) == 0 && old.isRegularFile) {
    fs.unlink(paths::kOldStreamImage);
  }
  removeEmptyStagingDirectory(fs);
}

void recoverInterruptedRun(FileSystem& fs) {
  finishInterruptedCommit(fs);
  removeOrphanedStagedFiles(fs);
}

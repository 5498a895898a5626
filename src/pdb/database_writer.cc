#include "pdb/database_writer.h"

#include <sys/stat.h>

#include <fstream>

#include "console/console.h"
#include "commit/change_set.h"
#include "pdb/display_name.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"

namespace {

// Size hints: the free space the staging area must offer for each file.
const uint64_t kVersionHint = 32;
const uint64_t kListHint = 1024;
const uint64_t kBundleHint = 16;
const uint64_t kFilesHint = 4096;
const uint64_t kStateHint = 8;

bool stageText(ChangeSet& changes, const std::string& target, uint64_t hint,
               const std::string& text) {
  std::ofstream out;
  changes.openStagedFile(out, target, hint, 0);
  out << text;
  out.flush();
  bool good = out.good();
  out.close();
  return good;
}

std::string versionLine(const Package& package) {
  return std::to_string(package.version) + " " + std::to_string(package.buildTime) + "\n";
}

// The files file, one path a line without its leading "/", written path by
// path: the list of a package of many files is not built in memory again.
bool stageFilesList(ChangeSet& changes, const std::string& target, const Package& package) {
  std::ofstream out;
  changes.openStagedFile(out, target, kFilesHint, 0);
  for (const std::string& path : package.files) {
    if (path.empty()) continue;
    size_t skip = path[0] == '/' ? 1 : 0;
    out.write(path.data() + skip, static_cast<std::streamsize>(path.size() - skip));
    out.put('\n');
  }
  out.flush();
  bool good = out.good();
  out.close();
  return good;
}

bool fail(const Package& package, const char* label) {
  reportCreateFailure(package, label);
  return false;
}

// A list file for a non-empty list, otherwise the removal of an old one.
bool writeOptionalList(ChangeSet& changes, const std::string& path,
                       const std::vector<PackageRef>& list, bool withPriority) {
  if (list.empty()) {
    changes.addRemoval(path);
    return true;
  }
  return writeRefList(changes, path, list, withPriority);
}

bool writeDescriptiveFiles(const Package& package, ChangeSet& changes) {
  std::string dir = databaseDir(package);
  if (!stageText(changes, dir + "version", kVersionHint, versionLine(package))) {
    return fail(package, "meta/version");
  }
  if (!writeRefList(changes, dir + "deps", package.depends, false)) return fail(package, "meta/deps");
  if (!writeOptionalList(changes, dir + "provides", package.provides, true)) {
    return fail(package, "meta/provides");
  }
  if (!writeOptionalList(changes, dir + "conflicts", package.conflicts, false)) {
    return fail(package, "meta/conflicts");
  }
  if (package.bundle.name.empty()) {
    changes.addRemoval(dir + "bundle");
  } else if (!stageText(changes, dir + "bundle", kBundleHint, package.bundle.name + "\n")) {
    return fail(package, "meta/bundle");
  }
  // A stale files file would make a bundle read back as an ordinary package.
  if (package.isBundle) {
    changes.addRemoval(dir + "files");
  } else if (!stageFilesList(changes, dir + "files", package)) {
    return fail(package, "meta/files");
  }
  return true;
}

void writeStateFiles(const Package& package, ChangeSet& changes) {
  std::string dir = databaseDir(package);
  if (package.disabled) {
    stageText(changes, dir + "disabled", kStateHint, package.userChoice ? "user\n" : "auto\n");
  } else {
    changes.addRemoval(dir + "disabled");
  }
  if (!package.disabled && package.userChoice) {
    stageText(changes, dir + "enabled", kStateHint, "user\n");
  } else {
    changes.addRemoval(dir + "enabled");
  }
}

}  // namespace

std::string databaseDir(const PackageInfo& package) {
  return std::string(paths::kDatabaseRoot) + package.name + "/";
}

bool writeRefList(ChangeSet& changes, const std::string& path, const std::vector<PackageRef>& list,
                  bool withPriority) {
  std::string text;
  for (const PackageRef& ref : list) {
    text += ref.name + " " + std::to_string(ref.minVersion) + " " + std::to_string(ref.maxVersion);
    if (withPriority) text += " " + std::to_string(ref.priority);
    text += "\n";
  }
  return stageText(changes, path, kListHint, text);
}

bool writeDatabaseEntry(const Package& package, ChangeSet& changes) {
  bool describe = !package.squashfsImage && !(package.headerFlags & PackageInfo::noMetaFlag);
  if (describe && !writeDescriptiveFiles(package, changes)) return false;
  writeStateFiles(package, changes);
  return true;
}

bool prepareDatabaseDir(const PackageInfo& package, ChangeSet& changes) {
  std::string dir = databaseDir(package);
  if (const ChangeAction* pending = changes.find(dir)) {
    if (pending->kind != ChangeKind::Remove) return false;
    changes.erase(dir);
  }
  // Without the trailing "/", so that a file standing there is seen.
  std::string path = dir.substr(0, dir.size() - 1);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  return S_ISDIR(st.st_mode);
}

void Package::writeEnabledState(ChangeSet& changes) {
  std::string dir = databaseDir(*this);
  changes.addRemoval(dir + "disabled");
  if (userChoice) {
    stageText(changes, dir + "enabled", kStateHint, "user\n");
  } else {
    changes.addRemoval(dir + "enabled");
  }
  disabled = false;
  action = kActionNone;
}

void enablePackages(PackageDb& db, ChangeSet& changes, const std::vector<Package*>& list,
                    bool verbose) {
  for (Package* package : list) {
    if (verbose) showProgress("enabling " + displayName(*package) + "...");
    package->writeEnabledState(changes);
    if (verbose) db.printNotice("enabled %s", displayName(*package).c_str());
  }
}

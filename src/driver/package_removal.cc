// Package::stageRemoval: the removal of an installed package's files,
// database entry, kept image and boot image.
#include <sys/stat.h>

#include <sstream>

#include "commit/change_set.h"
#include "console/console.h"
#include "pdb/database_writer.h"
#include "pdb/display_name.h"
#include "pdb/package.h"
#include "pdb/paths.h"
#include "platform/regular_file.h"

namespace {

const char kFlashPrefix[] = "/flash/";

// The installed paths recorded in the entry's files file. A record that a
// kept image described never read them into `files`. A files file that is
// no regular file, or is too long to be real, records nothing.
PathSet recordedFiles(const Package& package) {
  PathSet files;
  std::string content;
  if (readRegularFile(databaseDir(package) + "files", kDatabaseFileLimit, &content) !=
      FileRead::kRead) {
    return files;
  }
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    files.insert(line[0] == '/' ? line : "/" + line);
  }
  return files;
}

bool hasParentComponent(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

// The files file lies on flash, where anything may have rewritten it: only
// what an installation can have put there, a path below "/flash/" that
// cannot climb out of it, is ever removed.
bool isRemovableInstalledPath(const std::string& path) {
  return path.compare(0, sizeof kFlashPrefix - 1, kFlashPrefix) == 0 &&
         path.size() > sizeof kFlashPrefix - 1 && !hasParentComponent(path);
}

namespace {

bool bootImageHasOneLink() {
  struct stat st;
  return stat(paths::kBootImage, &st) == 0 && st.st_nlink == 1;
}

}  // namespace

void Package::stageRemoval(ChangeSet& changes) {
  // The recorded paths are full target paths ("/flash/..."), removed as
  // they stand.
  PathSet recorded;
  if (files.empty()) recorded = recordedFiles(*this);
  const PathSet& installed = files.empty() ? recorded : files;
  for (const std::string& path : installed) {
    if (isRemovableInstalledPath(path)) {
      changes.addRemoval(path);
    } else {
      Console::active().printWarning("not removing %s of %s: it is not below /flash", path.c_str(),
                                     displayName(*this).c_str());
    }
  }
  files.clear();
  std::string dir = databaseDir(*this);
  changes.addRemoval(dir);
  changes.addRemoval(dir + "image");
  if ((headerFlags & bootImageFlag) && bootImageHasOneLink()) changes.addRemoval(paths::kBootImage);
  action = kActionNone;
}

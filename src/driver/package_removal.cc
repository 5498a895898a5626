// Package::stageRemoval: the removal of an installed package's files,
// database entry, kept image and boot image.
#include <sys/stat.h>

#include <fstream>

#include "commit/change_set.h"
#include "pdb/database_writer.h"
#include "pdb/package.h"
#include "pdb/paths.h"

namespace {

// The installed paths recorded in the entry's files file. A record that a
// kept image described never read them into `files`.
std::set<std::string> recordedFiles(const Package& package) {
  std::set<std::string> files;
  std::ifstream in(databaseDir(package) + "files");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    files.insert(line[0] == '/' ? line : "/" + line);
  }
  return files;
}

bool bootImageHasOneLink() {
  struct stat st;
  return stat(paths::kBootImage, &st) == 0 && st.st_nlink == 1;
}

}  // namespace

void Package::stageRemoval(ChangeSet& changes) {
  // The recorded paths are full target paths ("/flash/..."), removed as
  // they stand.
  std::set<std::string> installed = files.empty() ? recordedFiles(*this) : files;
  for (const std::string& path : installed) changes.addRemoval(path);
  files.clear();
  std::string dir = databaseDir(*this);
  changes.addRemoval(dir);
  changes.addRemoval(dir + "image");
  if ((headerFlags & bootImageFlag) && bootImageHasOneLink()) changes.addRemoval(paths::kBootImage);
  action = kActionNone;
}

// Database loading from what lies on flash: the input is cut at each "@@\n"
// into the files of one entry "p" (version, deps, provides, conflicts,
// bundle, files, disabled, enabled, image), its kept image in
// "/rw/pckg/.images/", its schedule file and the image of a second entry
// "q". The loaded records then go through the scheduled actions, whose
// staging is cancelled.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "commit/change_set.h"
#include "fuzz/scratch_root.h"
#include "pdb/package_db.h"

namespace {

const char* const kFiles[] = {
    "/flash/var/pdb/p/version",  "/flash/var/pdb/p/deps",     "/flash/var/pdb/p/provides",
    "/flash/var/pdb/p/conflicts", "/flash/var/pdb/p/bundle",  "/flash/var/pdb/p/files",
    "/flash/var/pdb/p/disabled", "/flash/var/pdb/p/enabled",  "/flash/var/pdb/p/image",
    "/rw/pckg/.images/p",        "/ram/pdb/p/schedule",       "/flash/var/pdb/q/image",
};

std::vector<std::string> pieces(const std::string& input) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < sizeof kFiles / sizeof kFiles[0]) {
    size_t end = input.find("@@\n", start);
    parts.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 3;
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::resetRouterTree();
  std::vector<std::string> parts = pieces(std::string(reinterpret_cast<const char*>(data), size));
  for (size_t i = 0; i < parts.size(); ++i) {
    // An empty piece is a missing file.
    if (!parts[i].empty()) fuzz::writeFile(kFiles[i], parts[i]);
  }
  fuzz::makePath("/flash/var/pdb/q");
  PackageDb db;
  db.openRepository(true, "i386");
  ChangeSet changes;
  db.applySchedule(changes, true);
  changes.cancel();
  return 0;
}

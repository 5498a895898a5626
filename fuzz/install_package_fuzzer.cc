// The whole installation of one package stream (installStream, and
// through it installPackage) on a scratch root, with every signature
// accepted so that the content, the database entry and the schedule
// behind the check are reached. A few installed packages give the
// admission checks something to compare with. The change set is cancelled
// after each input: the staged files go, the tree is laid out afresh.
#include <stddef.h>
#include <stdint.h>

#include <sstream>
#include <string>

#include "commit/change_set.h"
#include "driver/stream_install.h"
#include "fuzz/scratch_root.h"
#include "package/signature.h"
#include "pdb/package_db.h"

namespace {

void addInstalled(PackageDb& db, const std::string& name, PackageVersion version, bool disabled) {
  Package* package = new Package(name);
  package->version = version;
  package->buildTime = 1;
  package->disabled = disabled;
  db.packages.push_back(package);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::resetRouterTree();
  acceptEverySignatureForFuzzing();
  PackageDb db;
  db.quiet = true;
  db.architecture = "i386";
  addInstalled(db, "system", 0x07016600, false);
  addInstalled(db, "tool", 0x07010000, true);
  unsigned options = size > 0 ? (data[0] & 0x3A) : 0;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::stringbuf input(bytes.size() > 0 ? bytes.substr(1) : bytes, std::ios::in);
  ChangeSet changes;
  std::string databaseDir;
  bool bootImage = false;
  installStream(db, input, changes, options, StateMap(), nullptr, &databaseDir, &bootImage);
  changes.cancel();
  return 0;
}

// The scheduled actions on a hostile database: up to eight records decoded
// from the input (state, scheduled action, bundle, dependencies and
// conflicts among them), as schedule files and a corrupted database can
// make them. Beyond the sanitizers it checks the promise the actions
// keep: no two packages that conflict both end enabled.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "commit/change_set.h"
#include "fuzz/scratch_root.h"
#include "pdb/package_db.h"

namespace {

const size_t kRecordSize = 5;
const size_t kMaxRecords = 8;

std::string nameOf(unsigned index) { return "p" + std::to_string(index % kMaxRecords); }

Package* decode(const uint8_t* record, unsigned index) {
  Package* package = new Package(nameOf(index));
  package->version = 0x07000000u + (record[0] >> 6);
  package->buildTime = 1;
  package->disabled = record[0] & 1;
  package->userChoice = record[0] & 2;
  package->action = (record[0] >> 2) & 3;
  package->isBundle = record[0] & 0x10;
  if (record[0] & 0x20) package->bundle = PackageRef(nameOf(record[1]), 0, 0, 0);
  for (unsigned other = 0; other < kMaxRecords; ++other) {
    if (record[2] & (1u << other)) package->depends.push_back(PackageRef(nameOf(other), 0, 0, 0));
    if (record[3] & (1u << other)) package->conflicts.push_back(PackageRef(nameOf(other), 0, 0, 0));
    if (record[4] & (1u << other)) package->provides.push_back(PackageRef(nameOf(other), 0, 0, 0));
  }
  return package;
}

bool refusedAll(const PackageDb& db) {
  for (const std::string& line : db.messages) {
    if (line == "ERROR: can not uninstall or disable all packages") return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::resetRouterTree();
  PackageDb db;
  for (unsigned i = 0; i < kMaxRecords && (i + 1) * kRecordSize <= size; ++i) {
    db.packages.push_back(decode(data + i * kRecordSize, i));
  }
  ChangeSet changes;
  db.applySchedule(changes, true);
  changes.cancel();
  if (refusedAll(db)) return 0;  // nothing was changed, whatever it held
  for (const Package* a : db.packages) {
    for (const Package* b : db.packages) {
      if (a == b || a->disabled || b->disabled || a->name.empty() || b->name.empty()) continue;
      if (a->conflictsWith(*b)) {
        fprintf(stderr, "both enabled: %s conflicts with %s\n", a->name.c_str(), b->name.c_str());
        abort();
      }
    }
  }
  return 0;
}

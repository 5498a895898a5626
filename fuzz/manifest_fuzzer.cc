// The manifest reader of --commit and --cancel: the input is the manifest
// "/ram/MANIFEST" of a scratch root. Only read: the change set is
// dropped, never committed.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "commit/change_set.h"
#include "fuzz/scratch_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::resetRouterTree();
  fuzz::writeFile("/ram/MANIFEST", std::string(reinterpret_cast<const char*>(data), size));
  ChangeSet changes;
  changes.readManifest("/ram/MANIFEST");
  size_t entries = 0;
  for (auto it = changes.begin(); it != changes.end(); ++it) ++entries;
  (void)entries;
  return 0;
}

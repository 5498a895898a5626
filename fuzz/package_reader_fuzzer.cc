// The package reader: the part walk as the installation of a stream
// makes it (digest on, every wanted part read), headers, lists and both
// signature checks; then the walk of the kept-image loader, which seeks.
#include <stddef.h>
#include <stdint.h>

#include <sstream>
#include <string>
#include <vector>

#include "package/package_reader.h"
#include "package/signature.h"
#include "pdb/package.h"

namespace {

void walkLikeAnInstallation(const std::string& bytes) {
  std::stringbuf source(bytes, std::ios::in);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9, 26};
  PackageInfo package;
  std::vector<PackageRef> list;
  int type = reader.nextPart();
  for (int parts = 0; type != -1 && parts < 100000; ++parts) {
    if (type == kPartPackageHeader || type == kPartBundleHeader) {
      if (!readPackageHeader(package, reader)) reader.nextPart();
    } else if (type == kPartBundleMembers) {
      readPackageList(reader, list);
      reader.nextPart();
    } else if (type == kPartSignature) {
      checkPackageSignature(reader, package);
      reader.nextPart();
    } else if (type == kPartBundleSignature) {
      checkBundleSignature(reader, package);
      reader.nextPart();
    } else {
      reader.nextPart();
    }
    type = reader.currentType();
  }
  (void)reader.endedCleanly();
}

void walkLikeTheImageLoader(const std::string& bytes) {
  std::stringbuf source(bytes, std::ios::in);
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {18, 1, 24, 23, 3, 19, 17};
  reader.nextPart();
  for (int members = 0; members < 100000; ++members) {
    PackageInfo record;
    if (!readPackageHeader(record, reader)) break;
    if (reader.currentType() != kPartPackageHeader) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  walkLikeAnInstallation(bytes);
  walkLikeTheImageLoader(bytes);
  return 0;
}

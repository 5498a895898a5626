#include "resolve/discovery.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <utility>

#include "console/console.h"
#include "package/file_source.h"
#include "package/package_reader.h"
#include "package/signature.h"
#include "pdb/display_name.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "platform/nv.h"
#include "resolve/loop_mount.h"
#include "platform/handles.h"

namespace {

const char kBrandingName[] = "branding";
const char* const kPackageEndings[] = {".npk", ".dpk"};
// Everything a candidate record holds; the file tree and signature parts
// in between are passed over.
const int kScanTypes[] = {kPartBundleHeader, kPartPackageHeader, kPartAttribute24, kPartArchitecture,
                          kPartAttribute2,   kPartNote,          kPartDependencies, kPartProvides,
                          kPartConflicts,    kPartSquashfsImage, kPartSignature,
                          kPartBundleSignature};

const char kBrokenPackage[] = "broken package %s";
const char kWrongArchitecture[] = "can not install %s: it is not made for %s, but for %s";
const char kUnprotectedBranding[] = "can not replace protected branding with non-protected";
const char kRefusedByDeviceMode[] = "will not install package %s, not allowed by device-mode";

bool endsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool hasPackageEnding(const std::string& path) {
  for (const char* ending : kPackageEndings) {
    if (endsWith(path, ending)) return true;
  }
  return false;
}

// Checks the signature of `package`, whose header has just been read,
// against the digest of the bytes read since: the scan reads the whole
// file with the digest on anyway, so a file refused here never gets its
// content staged or its image mounted. Leaves the reader after the
// signature part (or on the next header when there is none).
bool checkSignatureAfterHeader(PackageReader& reader, const PackageInfo& package) {
  while (reader.currentType() != kPartSignature && reader.currentType() != kPartPackageHeader &&
         reader.currentType() != -1) {
    reader.nextPart();
  }
  if (reader.currentType() != kPartSignature) return false;
  bool valid = verifyPackageSignature(reader, package);
  reader.nextPart();
  return valid;
}

// Reads the member headers that follow a bundle's own header, checking
// each member's signature. False when a member is unreadable or there is
// none.
bool readBundleMembers(PackageReader& reader, PackageFile& record) {
  bool anyMember = false;
  for (;;) {
    if (reader.currentType() == kPartSquashfsImage) reader.nextPart();
    if (reader.currentType() != kPartPackageHeader) break;
    auto member = std::make_unique<PackageInfo>();
    if (!readPackageHeader(*member, reader)) return false;
    record.signatures.packages.push_back(checkSignatureAfterHeader(reader, *member));
    record.addMember(std::move(member));
    anyMember = true;
  }
  if (reader.currentType() == kPartArchitecture) reader.nextPart();
  if (reader.currentType() == kPartBundleSignature) {
    record.signatures.bundle = verifyBundleSignature(reader, record);
  }
  return anyMember;
}

// Fills `record` from the headers of the file at its path. False when the
// file is broken.
bool readCandidate(PackageFile& record) {
  struct stat status;
  bool statusKnown = stat(record.path.c_str(), &status) == 0;
  // Only a regular file can be a package; opening a FIFO would block the
  // run for good.
  if (statusKnown && !S_ISREG(status.st_mode)) return false;
  // std::filebuf would throw on a read error (a failing flash block, a
  // link to a file that cannot be read); this source reads it as the end.
  FileSource file;
  // A file that cannot be opened reads as empty and so fails below.
  file.open(record.path);
  PackageReader reader(&file, true, nullptr);
  // A file cut short after download cannot be the package its header
  // describes.
  if (statusKnown && static_cast<uint64_t>(status.st_size) != reader.totalSize()) return false;
  reader.wantedTypes.assign(std::begin(kScanTypes), std::end(kScanTypes));
  reader.nextPart();
  if (!readPackageHeader(record, reader)) return false;
  if (record.isBundle) return readBundleMembers(reader, record);
  record.signatures.packages.push_back(checkSignatureAfterHeader(reader, record));
  return true;
}

// Where the squashfs image of the package file at `path` begins. False when
// the file cannot be read or has no image.
bool findImageOffset(const std::string& path, uint64_t* offset) {
  FileSource file;
  if (!file.open(path)) return false;
  PackageReader reader(&file, true, nullptr);
  reader.wantedTypes.push_back(kPartSquashfsImage);
  if (reader.nextPart() != kPartSquashfsImage) return false;
  *offset = reader.partOffset();
  return true;
}

// Why a readable record is not a candidate here; reports it and returns
// true, or returns false when the record is acceptable.
bool rejectRecord(const PackageFile& record, PackageDb& db) {
  if (!record.architecture.empty() && record.architecture != db.architecture) {
    db.printWarning(kWrongArchitecture, displayName(record).c_str(), db.architecture.c_str(),
                    record.architecture.c_str());
    return true;
  }
  if (record.name == kBrandingName && !brandingReplaceAllowed(record)) {
    db.printError(kUnprotectedBranding);
    return true;
  }
  if (!record.allowedByDeviceMode() && !nv::fileExists(paths::kSecureMarker, 0)) {
    db.printError(kRefusedByDeviceMode, displayName(record).c_str());
    return true;
  }
  return false;
}

void scanEntry(const std::string& directory, const std::string& name,
               std::vector<std::unique_ptr<PackageFile>>& candidates, PackageDb& db) {
  if (name.empty() || name[0] == '.') return;
  std::string path = directory + name;
  if (!hasPackageEnding(path)) return;
  auto record = std::make_unique<PackageFile>(path);
  if (!readCandidate(*record)) {
    db.printError(kBrokenPackage, name.c_str());
    return;
  }
  if (rejectRecord(*record, db)) return;
  candidates.push_back(std::move(record));
}

}  // namespace

bool scanPackageDirectory(const std::string& directory,
                          std::vector<std::unique_ptr<PackageFile>>& candidates, PackageDb& db) {
  DirectoryReader entries(directory);
  if (!entries.isOpen()) return true;
  const size_t before = candidates.size();
  std::string name;
  while (entries.next(&name)) scanEntry(directory, name, candidates, db);
  if (entries.error() == 0) return true;
  fprintf(stderr, "readdir %s: %s\n", directory.c_str(), strerror(entries.error()));
  candidates.resize(before);
  return false;
}

bool brandingReplaceAllowed(const PackageFile& candidate) {
  if (!nv::fileExists(paths::kBrandingDefconf, 0)) return true;
  uint64_t offset = 0;
  if (!findImageOffset(candidate.path, &offset)) return false;
  // An image is mounted only once its file is verified; a file that is not
  // fails as broken when its turn to be installed comes.
  if (!candidate.signatures.allValid()) return true;
  return probeSquashfsImage(candidate.path, offset, paths::kBrandingMountPoint, paths::kRamBrandingDefconf) ==
         ImageProbe::kPresent;
}

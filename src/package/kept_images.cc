// Turning the kept images of the database into records: the part of
// database loading that needs the package reader.
#include <memory>
#include <string>
#include <vector>

#include "package/file_source.h"
#include "package/package_reader.h"
#include "pdb/database_listing.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"

namespace {

// Reads the members following a bundle header, each tagged with the
// bundle, then the bundle itself; members come before their bundle.
void loadBundleImage(std::unique_ptr<Package> bundle, PackageReader& reader,
                     std::vector<Package*>& packages) {
  readPackageHeader(*bundle, reader);
  const PackageRef bundleRef(bundle->name, bundle->version, bundle->version, 0);
  while (reader.currentType() == kPartPackageHeader) {
    std::unique_ptr<Package> member(new Package());
    // A member header that cannot be read would stay current for ever;
    // the rest of the file is not trusted either.
    if (!readPackageHeader(*member, reader)) break;
    member->bundle = bundleRef;
    packages.push_back(member.release());
  }
  packages.push_back(bundle.release());
}

// Turns one kept image into records; an image that cannot be opened gives
// none, one without a readable header a record with `entryName` alone.
void loadImage(const std::string& path, const std::string& entryName,
               std::vector<Package*>& packages) {
  FileSource file;
  if (!file.open(path)) return;
  std::unique_ptr<Package> record(new Package(entryName));
  PackageReader reader(&file, false, nullptr);
  reader.wantedTypes = {kPartBundleHeader,  kPartPackageHeader, kPartAttribute24, kPartNote,
                        kPartDependencies, kPartProvides,      kPartConflicts};
  reader.nextPart();
  if (reader.currentType() == kPartBundleHeader) {
    loadBundleImage(std::move(record), reader, packages);
    return;
  }
  readPackageHeader(*record, reader);
  packages.push_back(record.release());
}

}  // namespace

void PackageDb::loadEntryImages(const DatabaseListing& listing) {
  for (const DatabaseListing::Entry& entry : listing.entries()) {
    if (!entry.contents.mayHold("image")) continue;
    loadImage(databaseEntryDir(entry.name) + "image", entry.name, packages);
  }
}

// The entries always come from the database directory; an image kept
// under a name that is no entry is not read.
void PackageDb::loadKeptImages(const DatabaseListing& listing) {
  const DirectoryNames kept(paths::kKeptImagesDir);
  for (const DatabaseListing::Entry& entry : listing.entries()) {
    if (!kept.mayHold(entry.name)) continue;
    loadImage(paths::kKeptImagesDir + entry.name, entry.name, packages);
  }
}

// A candidate package file found in a package directory: what its header
// declares plus where the file lies. For a bundle the record owns the
// member headers that `members` points to, so the pointers stay valid
// exactly as long as the record. Reading the file is the scan's job, not
// this record's.
#ifndef RESOLVE_PACKAGE_FILE_H_
#define RESOLVE_PACKAGE_FILE_H_

#include <memory>
#include <string>
#include <vector>

#include "package/signature.h"
#include "pdb/package.h"

class PackageFile : public PackageInfo {
 public:
  explicit PackageFile(const std::string& filePath) : path(filePath) {}
  // Copying would leave two records pointing at one set of members.
  PackageFile(const PackageFile&) = delete;
  PackageFile& operator=(const PackageFile&) = delete;

  // Appends `member` to `members`, keeping it alive for the record's
  // lifetime. Returns the stored member.
  PackageInfo* addMember(std::unique_ptr<PackageInfo> member);

  // Directory text followed by the entry name.
  std::string path;
  // What the scan found of the file's signatures.
  CheckedSignatures signatures;

 private:
  std::vector<std::unique_ptr<PackageInfo>> ownedMembers_;
};

#endif  // RESOLVE_PACKAGE_FILE_H_

#include "resolve/package_file.h"

#include <utility>

PackageInfo* PackageFile::addMember(std::unique_ptr<PackageInfo> member) {
  PackageInfo* stored = member.get();
  ownedMembers_.push_back(std::move(member));
  members.push_back(stored);
  return stored;
}

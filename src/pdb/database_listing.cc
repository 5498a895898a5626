#include "pdb/database_listing.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

#include "pdb/package_db.h"
#include "platform/handles.h"

namespace {

// Every file the loader may open in an entry's directory.
const char* const kEntryFiles[] = {"image",   "version", "deps",     "provides", "conflicts",
                                   "bundle",  "files",   "disabled", "enabled"};
const int kEntryFileCount = sizeof kEntryFiles / sizeof kEntryFiles[0];
static_assert(kEntryFileCount <= 16, "the contents are a 16-bit set");

// Opening a directory fails this way only when nothing could be opened
// below it either.
bool isAbsent(int error) { return error == ENOENT || error == ENOTDIR; }

}  // namespace

DirectoryNames::DirectoryNames(const std::string& dir) {
  DirectoryReader reader(dir);
  if (!reader.isOpen()) {
    listed_ = isAbsent(errno);
    return;
  }
  std::string name;
  while (reader.next(&name)) sorted_.push_back(name);
  listed_ = reader.error() == 0;
  std::sort(sorted_.begin(), sorted_.end());
}

bool DirectoryNames::mayHold(const std::string& name) const {
  return !listed_ || std::binary_search(sorted_.begin(), sorted_.end(), name);
}

int EntryContents::bitOf(const char* name) {
  for (int i = 0; i < kEntryFileCount; ++i) {
    if (strcmp(kEntryFiles[i], name) == 0) return i;
  }
  return -1;
}

EntryContents EntryContents::ofDirectory(const std::string& dir) {
  EntryContents contents;
  DirectoryReader reader(dir);
  if (!reader.isOpen()) {
    if (isAbsent(errno)) contents.present_ = 0;
    return contents;
  }
  uint16_t present = 0;
  std::string name;
  while (reader.next(&name)) {
    int bit = bitOf(name.c_str());
    if (bit >= 0) present |= static_cast<uint16_t>(1u << bit);
  }
  if (reader.error() == 0) contents.present_ = present;
  return contents;
}

bool EntryContents::mayHold(const char* name) const {
  int bit = bitOf(name);
  return bit >= 0 && (present_ & (1u << bit)) != 0;
}

bool DatabaseListing::list(const std::string& root) {
  root_ = root;
  entries_.clear();
  byName_.clear();
  DirectoryReader reader(root);
  if (!reader.isOpen()) return false;
  std::string name;
  while (reader.next(&name)) {
    if (isEntryName(name)) entries_.push_back(Entry{name, EntryContents()});
  }
  readError_ = reader.error();
  for (Entry& entry : entries_) entry.contents = EntryContents::ofDirectory(root + entry.name + "/");
  byName_.resize(entries_.size());
  for (uint32_t i = 0; i < byName_.size(); ++i) byName_[i] = i;
  std::sort(byName_.begin(), byName_.end(),
            [this](uint32_t a, uint32_t b) { return entries_[a].name < entries_[b].name; });
  return true;
}

EntryContents DatabaseListing::contentsOf(const std::string& name) const {
  auto position = std::lower_bound(
      byName_.begin(), byName_.end(), name,
      [this](uint32_t index, const std::string& wanted) { return entries_[index].name < wanted; });
  if (position != byName_.end() && entries_[*position].name == name) {
    return entries_[*position].contents;
  }
  return EntryContents::ofDirectory(root_ + name + "/");
}

// What the database directory holds, listed once per load: its entries in
// the order the system gives them and, for each, which of the files the
// loader reads its directory holds. Loading only reads, so one listing
// serves every pass over the entries, and a file is opened only when its
// directory lists it: most entries lack most of the optional files, and
// most routers keep no images.
#ifndef PDB_DATABASE_LISTING_H_
#define PDB_DATABASE_LISTING_H_

#include <stdint.h>

#include <string>
#include <vector>

// The names one directory holds, listed once. A directory that cannot be
// listed for another reason than being absent may hold any name.
class DirectoryNames {
 public:
  DirectoryNames() = default;  // knows nothing: may hold any name
  explicit DirectoryNames(const std::string& dir);
  bool mayHold(const std::string& name) const;

 private:
  bool listed_ = false;
  std::vector<std::string> sorted_;
};

// The files an entry's directory may hold, as a set of the names the
// loader knows; other names in the directory do not matter to it.
class EntryContents {
 public:
  EntryContents() = default;  // knows nothing: may hold every file
  // Lists `dir`. A directory that is absent (or no directory) holds
  // nothing; one that cannot be listed for another reason may hold
  // every file.
  static EntryContents ofDirectory(const std::string& dir);
  // `name` is one of the loader's file names ("version", "image", ...);
  // any other name is never held.
  bool mayHold(const char* name) const;

 private:
  static int bitOf(const char* name);
  uint16_t present_ = 0xFFFF;
};

class DatabaseListing {
 public:
  struct Entry {
    std::string name;
    EntryContents contents;
  };

  // Lists `root` (which ends in "/") and the directory of every entry in
  // it; ".", ".." and hidden names are no entries. False when `root`
  // cannot be opened (errno tells why).
  bool list(const std::string& root);
  // 0, or the error of a failed read of `root`: the entries are then the
  // ones read before it.
  int readError() const { return readError_; }
  const std::vector<Entry>& entries() const { return entries_; }
  // What the directory of `name` holds: from the listing when `name` is
  // one of its entries, otherwise listed now (a name from a package
  // header need not be an entry, and may even be a path).
  EntryContents contentsOf(const std::string& name) const;

 private:
  std::string root_;
  std::vector<Entry> entries_;
  // Indices into entries_, ordered by name.
  std::vector<uint32_t> byName_;
  int readError_ = 0;
};

#endif  // PDB_DATABASE_LISTING_H_

// The one package database of a run: the installed packages in load order,
// the system architecture and, as its Console, the console state. Loading
// is in package_db.cc, the lookups in package_lookup.cc.
#ifndef PDB_PACKAGE_DB_H_
#define PDB_PACKAGE_DB_H_

#include <string>
#include <vector>

#include "console/console.h"
#include "pdb/package.h"

class DatabaseListing;

class PackageDb : public Console {
 public:
  // The database of the run, made on first use and never destroyed; it is
  // the active console from then on.
  static PackageDb& instance();

  PackageDb() = default;
  ~PackageDb() override;

  // What a load reads. The --show table needs each record's name, version,
  // build time, bundle, note and enabled state only: kListing reads no
  // relation lists, file lists or schedule, so its records lack them (and
  // the actions those would schedule), and nothing may be decided on them.
  enum class LoadScope { kWhole, kListing };

  // Loading (from "/flash/var/pdb/", kept images, state and schedule files).
  // A database directory that cannot be opened is an empty database, with
  // the warning "could not open repo". False when the directory could not
  // be read to its end ("readdir", the directory and the system's error
  // text on standard error): the records are then partial, and nothing may
  // be decided on them.
  bool openRepository(bool quietConsole, const std::string& systemArchitecture,
                      LoadScope scope = LoadScope::kWhole);
  // The passes that turn package images into records, in the order of
  // `listing`: the images in the entries' own directories, then those kept
  // in "/rw/pckg/.images/" under an entry's name. Only the images listed
  // are opened. Defined with the package reader (package/kept_images.cc).
  void loadEntryImages(const DatabaseListing& listing);
  void loadKeptImages(const DatabaseListing& listing);

  // Lookups; names compare exactly.
  int indexOf(const std::string& name) const;
  Package* find(const std::string& name) const;
  Package* findProvider(const std::string& name) const;
  Package* findConflicting(const PackageInfo& candidate) const;
  std::vector<Package*> providersOf(const PackageRef& ref) const;

  // Takes `package` out of `packages` without destroying it; false when it
  // is not there.
  bool detach(const Package* package);
  // Takes `package` out of `packages` and destroys it.
  void remove(Package* package);

  // The --show table on standard output.
  void printListing() const;

  // Makes a consistent plan of the scheduled uninstall, enable and disable
  // actions and stages it in `changes` (resolve/schedule.h); messages and
  // progress lines only when `verbose`.
  void applySchedule(ChangeSet& changes, bool verbose);

  // Post-install log "/flash/postlog". loadPostlog appends the old lines
  // to `messages` and leaves the file as those lines followed by a
  // 4096-byte zero reserve, so that a run stopped before writePostlog
  // loses nothing. writePostlog rewrites the whole log after a load and
  // otherwise appends `messages` (nothing when there are none).
  void loadPostlog();
  void writePostlog();

  std::string architecture;
  // Installed packages in load order. Owned.
  std::vector<Package*> packages;
  bool postlogLoaded = false;

 private:
  void loadEntriesWithoutImage(const DatabaseListing& listing, LoadScope scope);
};

// ".", ".." and hidden names in the database root are not entries.
bool isEntryName(const std::string& name);
// "/flash/var/pdb/" NAME "/".
std::string databaseEntryDir(const std::string& name);

// Reads one PackageRef list file ("name min max [priority]" words). A
// missing file reads as empty. False on a malformed entry; entries read
// before it stay in `list`.
bool readRefList(const std::string& path, std::vector<PackageRef>* list, bool withPriority);

#endif  // PDB_PACKAGE_DB_H_

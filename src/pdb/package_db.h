// The one package database of a run: the installed packages in load order,
// the system architecture and the console state. Loading is in
// package_db.cc, the lookups in package_lookup.cc, the
// console routines (printWarning, printError, printNotice) in
// console/console.cc.
#ifndef PDB_PACKAGE_DB_H_
#define PDB_PACKAGE_DB_H_

#include <stdarg.h>

#include <string>
#include <vector>

#include "pdb/package.h"

class PackageDb {
 public:
  // The database of the run, made on first use and never destroyed.
  static PackageDb& instance();

  PackageDb() = default;
  ~PackageDb();
  PackageDb(const PackageDb&) = delete;
  PackageDb& operator=(const PackageDb&) = delete;

  // Loading (from "/flash/var/pdb/", kept images, state and schedule files).
  // A database directory that cannot be opened is an empty database, with
  // the warning "could not open repo". False when the directory could not
  // be read to its end ("readdir", the directory and the system's error
  // text on standard error): the records are then partial, and nothing may
  // be decided on them.
  bool openRepository(bool quietConsole, const std::string& systemArchitecture);
  // One pass over the database directory that turns kept images into
  // records. False only when "/flash/var/pdb/" cannot be opened; otherwise
  // *readError is 0, or the error of a failed read that ended the pass.
  bool loadImages(bool fromImagesDir, const std::string& directory, int* readError);

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

  // Console messages: "WARNING: " / "ERROR: " / no prefix, the formatted
  // text cut to 255 bytes, kept in `messages`; nothing while `quiet`.
  void printWarning(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void printError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void printNotice(const char* format, ...) __attribute__((format(printf, 2, 3)));

  std::string architecture;
  // Installed packages in load order. Owned.
  std::vector<Package*> packages;
  // Text of the transient progress line on the console; empty = none.
  std::string progressLine;
  // Every message line printed this run, prefix included.
  std::vector<std::string> messages;
  bool quiet = false;
  bool postlogLoaded = false;

 private:
  int loadEntriesWithoutImage();
  void printMessage(const char* prefix, const char* format, va_list args);
};

// Reads one PackageRef list file ("name min max [priority]" words). A
// missing file reads as empty. False on a malformed entry; entries read
// before it stay in `list`.
bool readRefList(const std::string& path, std::vector<PackageRef>* list, bool withPriority);

#endif  // PDB_PACKAGE_DB_H_

// The change set: every change a run makes to the installed system, first
// recorded, then applied in one ordered step (commit), saved for a later
// run (manifest), or thrown away (cancel). Recording never touches a
// target; only commit does.
//
// Entries form an ordered map from target path to one action, ascending
// byte-wise (a path sorts before the longer paths that begin with it). At
// most one action per target: recording a second replaces the first.
//
// Ownership of staged files: a MoveStaged entry owns its source, a
// temporary file made by openStagedFile. The file is deleted when the entry
// is replaced, dropped (addRemoval of a missing target, erase) or
// cancelled. Commit renames it onto its target (or copies it and leaves it
// where it was, when the rename crosses file systems). Destroying the
// change set deletes nothing, so that the files named by a written manifest
// survive the run that wrote it. A change set read from a manifest owns
// nothing: its moves come back as Move.
//
// A commit is durable (DurableCommit): cut short by a crash or a power
// cut, it is finished by the next run from its journal on flash. Staged
// files for targets on the database's file system live in a hidden
// staging directory there, so that nothing a cut run leaves looks like a
// package and the next run can delete what nothing names.
#ifndef COMMIT_CHANGE_SET_H_
#define COMMIT_CHANGE_SET_H_

#include <stdint.h>

#include <fstream>
#include <string>

#include "commit/change_action.h"
#include "commit/change_entries.h"
#include "commit/directories.h"
#include "commit/durable_commit.h"
#include "commit/file_system.h"
#include "commit/staged_file.h"
#include "commit/staging_places.h"

// Where openStagedFile puts the staged file of `target`: for a non-zero
// sizeHint, the nearest existing ancestor directory of the target when its
// file system has more than sizeHint + 65536 bytes free, else "/ram"; for
// a sizeHint of 0, "/ram", or "/tmp" when there is no "/ram".
std::string chooseStagingDirectory(FileSystem& fs, const std::string& target, uint64_t sizeHint);

class ChangeSet {
 public:
  typedef ChangeEntries Entries;
  typedef Entries::const_iterator const_iterator;

  // `fs` must outlive the change set.
  explicit ChangeSet(FileSystem& fs = FileSystem::real()) : fs_(fs), places_(fs) {}
  ChangeSet(const ChangeSet&) = delete;
  ChangeSet& operator=(const ChangeSet&) = delete;

  // Recording. None of these touches a target.

  // Records `action` for `target`, replacing any earlier entry; a replaced
  // MoveStaged entry's staged file is deleted at once.
  void put(const std::string& target, const ChangeAction& action);
  void addMove(const std::string& source, const std::string& target);
  void addSymlink(const std::string& linkText, const std::string& target);
  // If anything is at `target` now (even a dangling link): records its
  // removal. Otherwise drops the pending entry of `target`, if any (deleting
  // its staged file), and records nothing.
  void addRemoval(const std::string& target);
  // Creates a staged file in chooseStagingDirectory's choice, sets its
  // permission bits to `mode` unless `mode` is 0, records it as the
  // MoveStaged source for `target` and opens `stream` on it (truncating).
  // The caller writes the content and closes the stream. When the file
  // cannot be created the entry is recorded all the same, `stream` is left
  // in a failed state and errno tells why.
  std::ofstream& openStagedFile(std::ofstream& stream, const std::string& target, uint64_t sizeHint,
                                unsigned mode);
  // The same for a file written in large pieces: `file` gets the
  // descriptor the creation returned (no second open); it is left not open
  // when the file cannot be created, errno telling why.
  void openStagedFile(StagedFile& file, const std::string& target, uint64_t sizeHint, unsigned mode);

  // A staged file of `target` that ran out of room beside its target: its
  // content so far is moved to a new staged file in "/ram" (with the same
  // permission bits), which `file` then holds open at its end, and nothing
  // more is staged on that file system. False, errno telling why, when the
  // file already lies in "/ram" or "/tmp" or the move fails.
  bool restageInRam(const std::string& target, StagedFile& file);

  // Whether staging `size` bytes for `target` now would leave the file
  // system openStagedFile would put them on with less than `reserve` bytes
  // free (see StagingPlaces::wouldExhaust).
  bool stagingWouldExhaust(const std::string& target, uint64_t size, uint64_t reserve) {
    return places_.wouldExhaust(target, size, reserve);
  }

  // Lookup and erasure of one target. find returns null when there is no
  // entry; the pointer lives until the next find or change. erase drops
  // the entry (deleting a staged file it owns).
  const ChangeAction* find(const std::string& target) const;
  void erase(const std::string& target);

  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  // Applies the entries through DurableCommit. Removals and links come
  // before the moves, the moves onto database entries last; every failed
  // call is printed on standard error ("rename: <reason>", ...). A move
  // across file systems copies beside the target and renames, the source
  // staying. When the commit is refused (it does not fit; nothing
  // changed) the staged files are deleted as by cancel; otherwise the
  // entries stay and the caller discards the change set.
  CommitOutcome commit(bool progress);

  // Deletes the staged files of all MoveStaged entries and empties the
  // change set. Targets are not touched; failures are ignored.
  void cancel();

  // Manifest file: the line format of commit/manifest.h.
  //
  // Writes the manifest: a temporary file beside it, flushed, renamed over
  // it. When it cannot be written completely, prints an error naming
  // `path` and the reason, leaves any earlier manifest as it was, cancels
  // the change set and returns false.
  bool writeManifest(const std::string& path);

  // Adds the entries of a manifest; "M" lines come back as Move. Reading
  // stops with true at an empty line or the end of the file; with false at
  // a line of fewer than two fields, an "L" or "M" line without its third
  // field, or an over-long line; with false and the error "refused
  // manifest line \"%s\"" at a line naming a path that is not absolute or
  // holds a ".." component. Lines with another first field are passed
  // over. Fields are split at the first two blanks; the third runs to the
  // end of the line. False when the file cannot be read. Entries read
  // before a stop stay.
  bool readManifest(const std::string& path);

 private:
  // Deletes the staged file of `action` if the change set owns it.
  void releaseSource(const ChangeAction& action);
  // Creates the staged file of `target` and records it; 0 or the error.
  int createStaged(const std::string& target, uint64_t sizeHint, unsigned mode, int* fd);

  FileSystem& fs_;
  StagingPlaces places_;
  Entries entries_;
  mutable ChangeAction found_;  // what find() returned last
};

#endif  // COMMIT_CHANGE_SET_H_

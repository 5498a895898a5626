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
// Nothing here is atomic beyond what one rename gives: a commit that is cut
// short leaves the targets it reached changed and the others as they were.
#ifndef COMMIT_CHANGE_SET_H_
#define COMMIT_CHANGE_SET_H_

#include <stdint.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

#include "commit/file_system.h"

enum class ChangeKind {
  Move = 0,        // rename `source` onto the target; the source is not owned
  MoveStaged = 1,  // rename the staged file `source` onto the target; owned
  Symlink = 3,     // a symbolic link with the text `source` at the target
  Remove = 4,      // remove the target; `source` is empty
};

struct ChangeAction {
  ChangeKind kind = ChangeKind::Remove;
  std::string source;
};

// Parent directory of `path`: trailing "/" removed, then the directory part
// ("/a/b/" -> "/a", "/a" -> "/", "a" -> ".", "/" -> "/").
std::string parentDirectory(const std::string& path);

// Creates `directory` (mode 0777 less the umask) and, when that fails for
// another reason than its existence, its missing ancestors first. Failures
// are not reported.
void makeDirectories(FileSystem& fs, const std::string& directory);

// Where openStagedFile puts the staged file of `target`: for a non-zero
// sizeHint, the nearest existing ancestor directory of the target when its
// file system has more than sizeHint + 65536 bytes free, else "/ram"; for
// a sizeHint of 0, "/ram", or "/tmp" when there is no "/ram".
std::string chooseStagingDirectory(FileSystem& fs, const std::string& target, uint64_t sizeHint);

class ChangeSet {
 public:
  typedef std::map<std::string, ChangeAction> Entries;
  typedef Entries::const_iterator const_iterator;

  // `fs` must outlive the change set.
  explicit ChangeSet(FileSystem& fs = FileSystem::real()) : fs_(fs) {}
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

  // Lookup and erasure of one target. find returns null when there is no
  // entry; the pointer lives until the entry changes. erase drops the entry
  // (deleting a staged file it owns).
  const ChangeAction* find(const std::string& target) const;
  void erase(const std::string& target);

  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  // Applies every entry, always all of them; there is no result. In order:
  // 1. In map order, removals and symbolic links. A directory loses its
  //    visible entries, except the sources of this commit's moves, and is
  //    then removed if that left it empty. A link gets its parents created
  //    and the old target unlinked; a failed link prints
  //    "symlink: <reason>" on standard error.
  // 2. One flush of the file systems that hold the move sources, so that a
  //    power cut never leaves a target renamed but without its data.
  // 3. In map order, the moves: parents created, then one rename each; a
  //    rename across file systems becomes a copy (spinner when `progress`),
  //    the source staying; any other failure prints "rename: <reason>".
  // The entries stay; the caller discards the change set.
  void commit(bool progress);

  // Deletes the staged files of all MoveStaged entries and empties the
  // change set. Targets are not touched; failures are ignored.
  void cancel();

  // Manifest file: one line per entry in map order, each ended by a line
  // feed, no header or trailer:
  //   "U <target>"            Remove
  //   "L <target> <text>"     Symlink
  //   "M <target> <source>"   Move and MoveStaged
  // A path holding a blank or a line feed cannot be carried.
  //
  // Writes the manifest. When it cannot be created or written completely,
  // prints an error naming `path` and the reason, deletes the partial file,
  // cancels the change set and returns false.
  bool writeManifest(const std::string& path);

  // Adds the entries of a manifest; "M" lines come back as Move. Reading
  // stops with true at an empty line or the end of the file; with false at
  // a line of fewer than two fields, an "L" or "M" line without its third
  // field, or an over-long line; a read error gives true when anything was
  // read. Lines with another first field are passed over. Fields are split
  // at the first two blanks; the third runs to the end of the line. False
  // when the file cannot be opened. Entries read before a stop stay.
  bool readManifest(const std::string& path);

 private:
  // Deletes the staged file of `action` if the change set owns it.
  void releaseSource(const ChangeAction& action);
  std::set<std::string> moveSources() const;
  // Removes a file, or a directory after its visible entries except `keep`.
  void applyRemoval(const std::string& target, const std::set<std::string>& keep);
  void applySymlink(const std::string& target, const std::string& text);
  void applyMove(const std::string& target, const std::string& source, bool progress);
  void flushMoveSources();
  bool readManifestLine(const std::string& line);

  FileSystem& fs_;
  Entries entries_;
};

#endif  // COMMIT_CHANGE_SET_H_

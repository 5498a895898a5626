// The line format of the manifest and of the commit journal: one line per
// entry in map order, each ended by a line feed, no header or trailer:
//   "U <target>"            Remove
//   "L <target> <text>"     Symlink
//   "M <target> <source>"   Move and MoveStaged
// A target can hold neither a blank nor a line feed, a source no line feed.
// Reading gives moves back as Move: what a file names is owned by nobody.
//
// The journal alone carries such paths as well, on lines of the same form
// with the letter in lower case ("u", "l", "m"), whose fields are escaped:
// a blank as "\040", a line feed as "\012", a backslash as "\134". Only
// entries that need it are written so; the manifest never holds them.
#ifndef COMMIT_MANIFEST_H_
#define COMMIT_MANIFEST_H_

#include <string>

#include "commit/change_action.h"
#include "commit/change_entries.h"
#include "commit/file_system.h"

// Longer lines cannot be two paths and are refused.
const size_t kMaxManifestLine = 16384;

// The target or source that the format cannot carry, or null.
const std::string* uncarriablePath(const std::string& target, const ChangeAction& action);

std::string manifestLine(const std::string& target, const ChangeAction& action);
std::string manifestText(const ChangeEntries& entries);

// The text of `entries` in pieces of about 64 KiB: a journal of many files
// is written without holding it whole. With `escapeWhereNeeded` (the
// journal), an entry the manifest cannot carry goes on an escaped line.
// `entries` must not change while the pieces are taken.
class ManifestPieces : public PieceSource {
 public:
  explicit ManifestPieces(const ChangeEntries& entries, bool escapeWhereNeeded = false)
      : entries_(entries), next_(entries.begin()), escape_(escapeWhereNeeded) {}
  bool next(std::string* piece) override;

 private:
  const ChangeEntries& entries_;
  ChangeEntries::const_iterator next_;
  bool escape_;
};

enum class ManifestRead {
  Complete,   // an empty line or the end of the text was reached
  Malformed,  // a line of fewer than two fields, "L"/"M" without a source, too long
  Refused,    // a target or move source that is not absolute or holds ".."
};

// Adds the entries of `text` to `entries` (a later line for a target
// replaces an earlier one) up to the first bad line; lines with another
// first field are passed over. `badLine` receives a refused line. With
// `escapedLines` (the journal) the escaped lines are read too; a bad
// escape makes the line malformed.
ManifestRead parseManifest(const std::string& text, ChangeEntries* entries, std::string* badLine,
                           bool escapedLines = false);

#endif  // COMMIT_MANIFEST_H_

// The line format of the manifest and of the commit journal: one line per
// entry in map order, each ended by a line feed, no header or trailer:
//   "U <target>"            Remove
//   "L <target> <text>"     Symlink
//   "M <target> <source>"   Move and MoveStaged
// A target can hold neither a blank nor a line feed, a source no line feed.
// Reading gives moves back as Move: what a file names is owned by nobody.
#ifndef COMMIT_MANIFEST_H_
#define COMMIT_MANIFEST_H_

#include <string>

#include "commit/change_action.h"
#include "commit/file_system.h"

// Longer lines cannot be two paths and are refused.
const size_t kMaxManifestLine = 16384;

// The target or source that the format cannot carry, or null.
const std::string* uncarriablePath(const std::string& target, const ChangeAction& action);

std::string manifestLine(const std::string& target, const ChangeAction& action);
std::string manifestText(const ChangeEntries& entries);

// The text of `entries` in pieces of about 64 KiB: a journal of many files
// is written without holding it whole. `entries` must not change while
// the pieces are taken.
class ManifestPieces : public PieceSource {
 public:
  explicit ManifestPieces(const ChangeEntries& entries) : entries_(entries), next_(entries.begin()) {}
  bool next(std::string* piece) override;

 private:
  const ChangeEntries& entries_;
  ChangeEntries::const_iterator next_;
};

enum class ManifestRead {
  Complete,   // an empty line or the end of the text was reached
  Malformed,  // a line of fewer than two fields, "L"/"M" without a source, too long
  Refused,    // a target or move source that is not absolute or holds ".."
};

// Adds the entries of `text` to `entries` (a later line for a target
// replaces an earlier one) up to the first bad line; lines with another
// first field are passed over. `badLine` receives a refused line.
ManifestRead parseManifest(const std::string& text, ChangeEntries* entries, std::string* badLine);

#endif  // COMMIT_MANIFEST_H_

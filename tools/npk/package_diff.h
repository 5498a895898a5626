// `npk diff`: what differs between two package or bundle files. Header
// fields are compared as `npk field` shows them; list fields (depends,
// provides, conflicts, members) entry by entry; file trees path by path,
// by entry type and mode, skip byte, size and the SHA-256 of the data;
// squashfs image parts by size and SHA-256. Bundle members are matched by
// name.
#ifndef NPK_PACKAGE_DIFF_H_
#define NPK_PACKAGE_DIFF_H_

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "json_writer.h"
#include "package_files.h"

struct Difference {
  std::string member;  // the bundle member it concerns; "" for the file itself
  std::string kind;    // "field", "file" or "member"
  std::string change;  // "added", "removed" or "changed"
  std::string name;    // the field name, entry path or member name
  // Field values (or member versions) in A and in B, when present there.
  std::optional<std::string> a, b;
  // Entries in A and in B, for kind "file".
  std::optional<TreeEntry> fileA, fileB;
};

std::vector<Difference> diffContents(const FileContents& a, const FileContents& b);

// One line per difference (see npk.1).
void printDifferences(const std::vector<Difference>& differences, std::ostream& out);
// The array of differences as JSON.
void addDifferencesJson(const std::vector<Difference>& differences, JsonWriter* json);

// The field names `npk field` takes, in order.
const std::vector<std::string>& fieldNames();
// The value of one field, a line per list entry; false when the name is
// not a field.
bool fieldLines(const FileContents& contents, const std::string& name,
                std::vector<std::string>* lines);

#endif  // NPK_PACKAGE_DIFF_H_

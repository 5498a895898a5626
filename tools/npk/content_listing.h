// `npk ls`: the entries of the file container of each package in a file,
// one line each: mode (as ls shows it, then in octal), data size, the
// skip flag ("skip" when the entry's skip byte is set, so that it is
// not extracted; "-" otherwise), with --digest the SHA-256 of the data,
// and the path, with " -> target" for a symbolic link.
// In a bundle each member's entries follow a line "name-version:".
#ifndef NPK_CONTENT_LISTING_H_
#define NPK_CONTENT_LISTING_H_

#include <stdint.h>

#include <ostream>
#include <streambuf>
#include <string>

#include "json_writer.h"
#include "package_files.h"

// "-rw-r--r--", "drwxr-xr-x", "lrwxrwxrwx", ... from a container entry's
// 16-bit mode.
std::string modeText(uint16_t mode);
// "file", "directory", "symlink", "char-device", "block-device", "fifo",
// "socket" or "unknown", for JSON output.
const char* entryTypeName(uint16_t mode);

// The listing lines of everything in `contents`.
void printListing(const FileContents& contents, bool digests, std::ostream& out);
// The same as the members "bundle" and "packages" of an open JSON object.
void addListingJson(const FileContents& contents, bool digests, JsonWriter* json);

// Reads and lists every package in `source` from its current position.
// False with *error when the file is no package, a header cannot be read
// or a file tree ends early; what was listed before stays written.
bool listContents(std::streambuf* source, bool digests, std::ostream& out, std::string* error);

#endif  // NPK_CONTENT_LISTING_H_

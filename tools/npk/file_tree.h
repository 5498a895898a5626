// Turns a directory tree into the entries of a package's file container.
// Regular files, directories and symbolic links below the root become
// entries with their mode (file type and permission bits); a link's data
// is its target text. The root itself is no entry. Entries come in
// pre-order, names sorted byte-wise, so a tree always gives the same
// package; paths are relative to the root, without a leading "/" (the
// installer puts "/flash/" in front). Owners and times are not kept.
#ifndef NPK_FILE_TREE_H_
#define NPK_FILE_TREE_H_

#include <string>
#include <vector>

#include "package/package_writer.h"

// False with *error naming the path and the fault: an unreadable file or
// directory, a kind of file the container cannot hold (device, pipe,
// socket), a file of 4 GiB or more, a path longer than 65535 bytes.
bool collectFileTree(const std::string& root, std::vector<FileTreeEntry>* entries,
                     std::string* error);

// Sets the skip byte of the entries named in `skipPaths` (relative paths
// as collectFileTree makes them). False with *error naming the first path
// that has no entry.
bool markSkipped(const std::vector<std::string>& skipPaths, std::vector<FileTreeEntry>* entries,
                 std::string* error);

#endif  // NPK_FILE_TREE_H_

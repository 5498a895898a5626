// Turns a directory tree into the entries of a package's file container.
// Regular files and directories below the root become entries with their
// mode (file type and permission bits). The installer installs regular
// files only, so anything else (symbolic links, devices, FIFOs, sockets)
// would be lost on the router without a word: such "special" files are
// refused, or left out when the caller asks for it. The root itself is no
// entry. Entries come in
// pre-order, names sorted byte-wise, so a tree always gives the same
// package; paths are relative to the root, without a leading "/" (the
// installer puts "/flash/" in front). Owners and times are not kept.
#ifndef NPK_FILE_TREE_H_
#define NPK_FILE_TREE_H_

#include <string>
#include <vector>

#include "package/package_writer.h"

enum class SpecialFiles { kRefuse, kLeaveOut };

// A special file met in the tree: its entry path and what it is
// ("symbolic link", "device", "FIFO", "socket").
struct SpecialFile {
  std::string path;
  std::string kind;
};

// False with *error naming the path and the fault: an unreadable file or
// directory, a file of 4 GiB or more, a path longer than 65535 bytes, or,
// with kRefuse, special files (the error then names every one of them, a
// line each). With kLeaveOut the special files are not entries and are
// listed in *leftOut, in tree order.
bool collectFileTree(const std::string& root, SpecialFiles special,
                     std::vector<FileTreeEntry>* entries, std::vector<SpecialFile>* leftOut,
                     std::string* error);

// "symbolic link", "device", ... for a file type of stat or of a container
// entry's mode; "" for regular files and directories.
std::string specialKind(unsigned mode);

// Sets the skip byte of the entries named in `skipPaths` (relative paths
// as collectFileTree makes them). False with *error naming the first path
// that has no entry.
bool markSkipped(const std::vector<std::string>& skipPaths, std::vector<FileTreeEntry>* entries,
                 std::string* error);

class ContentWalker;
// What is wrong with a tree whose walk came out broken where the next
// entry was due: its check value, or an early end.
std::string brokenTreeFault(const ContentWalker& walker);

#endif  // NPK_FILE_TREE_H_

// Path helpers of the commit: parent directories, creating missing
// directories, and the test of a path that a manifest or journal may name.
// All work in time linear in the path's length and constant stack, whatever
// the number of components: a package may name a path of any depth.
#ifndef COMMIT_DIRECTORIES_H_
#define COMMIT_DIRECTORIES_H_

#include <string>

#include "commit/file_system.h"

// Parent directory of `path`: trailing "/" removed, then the directory part
// ("/a/b/" -> "/a", "/a" -> "/", "a" -> ".", "/" -> "/").
std::string parentDirectory(const std::string& path);

// Turns `path` into its parent directory in place (as parentDirectory),
// so that walking up a path costs its length once in total.
void becomeParentDirectory(std::string& path);

// Creates `directory` (mode 0777 less the umask) and, when that fails for
// another reason than its existence, its missing ancestors first, from the
// top down. Failures are not reported.
void makeDirectories(FileSystem& fs, const std::string& directory);

// True for an absolute path without a ".." component: the only paths a
// manifest or journal line may name, so that a forged line cannot reach
// outside the installed system's tree.
bool isCarriedPath(const std::string& path);

#endif  // COMMIT_DIRECTORIES_H_

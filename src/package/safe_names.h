// Checks on names and paths that come from a package file and end up in
// file-system paths: a package's name becomes a directory below
// "/flash/var/pdb/" and "/flash/x/", and a file entry's path becomes a
// target below "/flash". A package that fails them is broken; nothing of
// it may be written. (Paths the manifest cannot carry are refused by
// ChangeSet::writeManifest.)
#ifndef PACKAGE_SAFE_NAMES_H_
#define PACKAGE_SAFE_NAMES_H_

#include <string>

// True when `name` can serve as one directory name: not empty, not "." or
// "..", without "/" and without a control character (a line feed in it
// would split a recorded path in two).
bool isSafePackageName(const std::string& name);

// True when an extracted file may be installed under `path`: no control
// character (bytes below 0x20, and 0x7F; bytes from 0x80 on, as in UTF-8
// names, are fine), no ".." component, and a last component that names a
// file (not empty, not "."). A leading "/" is optional.
bool isSafeEntryPath(const std::string& path);

#endif  // PACKAGE_SAFE_NAMES_H_

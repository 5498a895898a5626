// The hidden staging directories on file systems other than the
// database's (a separate "/flash/boot", a mount below "/flash"): each is
// named in a list beside the journal when it is made, so that the next run
// finds and sweeps what a cut run left there, as it does in the
// database's own staging directory. List format: one absolute directory
// path per line, each ending in "/.staging".
#ifndef COMMIT_STAGING_REGISTRY_H_
#define COMMIT_STAGING_REGISTRY_H_

#include <string>
#include <vector>

#include "commit/file_system.h"

// The staging directory of the file system whose topmost directory below
// "/flash" is `mountRoot`.
std::string stagingDirectoryOf(const std::string& mountRoot);

// Adds `directory` to the list unless it is there; the list is replaced
// whole. 0 or the error.
int registerStagingDirectory(FileSystem& fs, const std::string& directory);

// The listed directories (only paths of the staging form).
std::vector<std::string> registeredStagingDirectories(FileSystem& fs);

// Removes every listed directory that is empty, and drops from the list
// those that are gone; the list goes when none is left.
void removeEmptyRegisteredDirectories(FileSystem& fs);

#endif  // COMMIT_STAGING_REGISTRY_H_

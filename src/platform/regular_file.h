// Opening and reading the files the installer finds on the root, which
// anybody with a shell on the router can replace: a FIFO would block the
// run for good and a link to a device could be read without end. Every
// open is made without blocking and only a regular file is read; a text
// file is read up to a bound its reader chooses.
#ifndef PLATFORM_REGULAR_FILE_H_
#define PLATFORM_REGULAR_FILE_H_

#include <stddef.h>

#include <string>

// Bounds on the text files the installer reads. Each is far above what a
// real router writes: a files file of 100,000 paths of 100 bytes, a list of
// 65,535 entries, a settings file of some thousand lines.
const size_t kDatabaseFileLimit = 16u << 20;  // files, deps, provides, conflicts
const size_t kSmallFileLimit = 4096;          // version, bundle, state files, schedule, markers
const size_t kSettingsFileLimit = 1u << 20;   // the platform settings file
const size_t kPostlogLimit = 1u << 20;        // the post-install log

// Opens `path` read-only without blocking. Returns the descriptor, owned
// by the caller, or -1 when the file cannot be opened or is not a regular
// file (errno is then ENOENT for a file that is not regular).
int openRegularFile(const std::string& path);

// True when nothing exists at `path` or it is a regular file: the only
// places a file may be written to without blocking on a FIFO or writing
// to a device.
bool writableAsRegularFile(const std::string& path);

enum class FileRead {
  kRead,     // the whole content is in *content
  kMissing,  // no file, not openable, or not a regular file
  kTooLong,  // more than `limit` bytes; *content holds the first `limit`
};

// Reads the regular file at `path`, at most `limit` bytes of it.
FileRead readRegularFile(const std::string& path, size_t limit, std::string* content);

#endif  // PLATFORM_REGULAR_FILE_H_

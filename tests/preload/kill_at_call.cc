// A library the interruption tests preload into the installer: it counts
// the calls that change files (opens for writing, writes, renames, links,
// removals, directory and mode changes, temporary files, flushes) and kills
// the process with SIGKILL just before or just after call number
// KILL_AT_CALL, as KILL_WHEN ("before" or "after") says. Writes to the
// standard descriptors are not counted. Without KILL_AT_CALL it only
// counts, and with KILL_CALL_COUNT names a file to which it appends the
// total when the process exits normally.
//
// It stands in for both the plain and the 64-bit names of each call; with
// 64-bit offsets chosen for the build, the headers would turn the plain
// names into the 64-bit ones and define those twice.
#undef _TIME_BITS
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

long callCount = 0;
long killAt = -1;
bool killAfter = false;
bool inside = false;

__attribute__((constructor)) void readSettings() {
  const char* at = getenv("KILL_AT_CALL");
  if (at != nullptr) killAt = strtol(at, nullptr, 10);
  const char* when = getenv("KILL_WHEN");
  killAfter = when != nullptr && strcmp(when, "after") == 0;
}

__attribute__((destructor)) void reportCount() {
  const char* path = getenv("KILL_CALL_COUNT");
  if (path == nullptr) return;
  inside = true;
  FILE* out = fopen(path, "a");
  if (out == nullptr) return;
  fprintf(out, "%ld\n", callCount);
  fclose(out);
}

// Counts one changing call; kills before it when that is the point.
void before() {
  if (inside) return;
  ++callCount;
  if (callCount == killAt && !killAfter) kill(getpid(), SIGKILL);
}

void after() {
  if (inside) return;
  if (callCount == killAt && killAfter) kill(getpid(), SIGKILL);
}

bool changes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

#define COUNTED(call) \
  do {                \
    before();         \
    auto result = call; \
    after();          \
    return result;    \
  } while (0)

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  static auto real = next<int (*)(const char*, int, ...)>("open");
  if (!changes(flags)) return real(path, flags, mode);
  COUNTED(real(path, flags, mode));
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  static auto real = next<int (*)(const char*, int, ...)>("open64");
  if (!changes(flags)) return real(path, flags, mode);
  COUNTED(real(path, flags, mode));
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  static auto real = next<int (*)(int, const char*, int, ...)>("openat");
  if (!changes(flags)) return real(dir, path, flags, mode);
  COUNTED(real(dir, path, flags, mode));
}

FILE* fopen(const char* path, const char* mode) {
  static auto real = next<FILE* (*)(const char*, const char*)>("fopen");
  if (mode[0] == 'r' && strchr(mode, '+') == nullptr) return real(path, mode);
  COUNTED(real(path, mode));
}

FILE* fopen64(const char* path, const char* mode) {
  static auto real = next<FILE* (*)(const char*, const char*)>("fopen64");
  if (mode[0] == 'r' && strchr(mode, '+') == nullptr) return real(path, mode);
  COUNTED(real(path, mode));
}

ssize_t write(int fd, const void* bytes, size_t length) {
  static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd <= 2) return real(fd, bytes, length);
  COUNTED(real(fd, bytes, length));
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  static auto real = next<ssize_t (*)(int, const struct iovec*, int)>("writev");
  if (fd <= 2) return real(fd, parts, count);
  COUNTED(real(fd, parts, count));
}

int rename(const char* source, const char* target) {
  static auto real = next<int (*)(const char*, const char*)>("rename");
  COUNTED(real(source, target));
}

int unlink(const char* path) {
  static auto real = next<int (*)(const char*)>("unlink");
  COUNTED(real(path));
}

int rmdir(const char* path) {
  static auto real = next<int (*)(const char*)>("rmdir");
  COUNTED(real(path));
}

int mkdir(const char* path, mode_t mode) {
  static auto real = next<int (*)(const char*, mode_t)>("mkdir");
  COUNTED(real(path, mode));
}

int symlink(const char* text, const char* path) {
  static auto real = next<int (*)(const char*, const char*)>("symlink");
  COUNTED(real(text, path));
}

int chmod(const char* path, mode_t mode) {
  static auto real = next<int (*)(const char*, mode_t)>("chmod");
  COUNTED(real(path, mode));
}

int fchmod(int fd, mode_t mode) {
  static auto real = next<int (*)(int, mode_t)>("fchmod");
  COUNTED(real(fd, mode));
}

int mkstemp(char* name) {
  static auto real = next<int (*)(char*)>("mkstemp");
  COUNTED(real(name));
}

int mkstemp64(char* name) {
  static auto real = next<int (*)(char*)>("mkstemp64");
  COUNTED(real(name));
}

int fsync(int fd) {
  static auto real = next<int (*)(int)>("fsync");
  COUNTED(real(fd));
}

int fdatasync(int fd) {
  static auto real = next<int (*)(int)>("fdatasync");
  COUNTED(real(fd));
}

int syncfs(int fd) {
  static auto real = next<int (*)(int)>("syncfs");
  COUNTED(real(fd));
}

void sync() {
  static auto real = next<void (*)()>("sync");
  before();
  real();
  after();
}

int ftruncate(int fd, off_t length) {
  static auto real = next<int (*)(int, off_t)>("ftruncate");
  COUNTED(real(fd, length));
}

}  // extern "C"

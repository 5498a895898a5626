// For fuzz targets that run installer code with its fixed absolute paths
// ("/flash/...", "/ram/...", "/rw/..."): the process makes its working
// directory its root once, so nothing outside it can be touched, and each
// input starts from the same empty router tree. fuzz/run starts such a
// target in a scratch directory of its own, with relative corpus and
// artifact paths. Needs root; aborts rather than run on the real root.
#ifndef FUZZ_SCRATCH_ROOT_H_
#define FUZZ_SCRATCH_ROOT_H_

#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace fuzz {

inline int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path) == 0 ? 0 : 0;
}

inline void makePath(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
}

// Enters the scratch root on first use; console output goes to /dev/null.
inline void enterScratchRoot() {
  static const bool entered = [] {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr || std::string(cwd) == "/" || chroot(cwd) != 0 ||
        chdir("/") != 0) {
      fprintf(stderr, "fuzz: cannot make the working directory the root (run as root from fuzz/run)\n");
      abort();
    }
    int null = open("/dev/null", O_WRONLY);
    if (null < 0) null = open("/null-output", O_WRONLY | O_CREAT, 0600);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    return true;
  }();
  (void)entered;
}

// Empties the router tree and lays out the directories a run expects.
inline void resetRouterTree() {
  enterScratchRoot();
  for (const char* top : {"/flash", "/ram", "/rw", "/pckg"}) {
    nftw(top, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  for (const char* dir : {"/flash/var/pdb", "/flash/boot", "/ram/pdb", "/rw/pckg/.images",
                          "/rw/pckg/.download"}) {
    makePath(dir);
  }
}

inline void writeFile(const std::string& path, const std::string& content) {
  makePath(path.substr(0, path.rfind('/')));
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);
}

}  // namespace fuzz

#endif  // FUZZ_SCRATCH_ROOT_H_

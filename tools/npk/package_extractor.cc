#include "package_extractor.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/safe_names.h"
#include "platform/handles.h"

namespace {

std::string systemFault(const std::string& path, const char* what) {
  return path + ": " + what + ": " + strerror(errno);
}

int removeOne(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// A temporary directory beside the target, removed with its content
// unless it was renamed into place.
class StagingDir {
 public:
  explicit StagingDir(const std::string& target) : path_(target + ".npk-XXXXXX") {
    if (mkdtemp(&path_[0]) == nullptr) path_.clear();
  }
  ~StagingDir() {
    if (!path_.empty()) nftw(path_.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
  }
  StagingDir(const StagingDir&) = delete;
  StagingDir& operator=(const StagingDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  bool moveTo(const std::string& target) {
    if (chmod(path_.c_str(), 0755) != 0 || rename(path_.c_str(), target.c_str()) != 0) {
      return false;
    }
    path_.clear();
    return true;
  }

 private:
  std::string path_;
};

// The path's components without empty and "." ones: "/a//./b" is "a/b".
std::string cleanPath(const std::string& path) {
  std::string clean;
  for (size_t start = 0; start <= path.size();) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    if (!part.empty() && part != ".") clean += (clean.empty() ? "" : "/") + part;
    start = slash + 1;
  }
  return clean;
}

bool makeParents(const std::string& root, const std::string& relative, std::string* error) {
  for (size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    std::string dir = root + "/" + relative.substr(0, slash);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = systemFault(relative.substr(0, slash), "cannot create directory");
      return false;
    }
  }
  return true;
}

bool writeFile(const std::string& root, const std::string& relative, const std::string& data,
               unsigned mode, std::string* error) {
  if (!makeParents(root, relative, error)) return false;
  std::string path = root + "/" + relative;
  Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.valid()) {
    *error = systemFault(relative, "cannot create");
    return false;
  }
  for (size_t done = 0; done < data.size();) {
    ssize_t wrote = write(file.get(), data.data() + done, data.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = systemFault(relative, "cannot write");
      return false;
    }
    done += size_t(wrote);
  }
  if (fchmod(file.get(), mode & 07777) != 0 || file.close() != 0) {
    *error = systemFault(relative, "cannot write");
    return false;
  }
  return true;
}

struct PlannedFile {
  std::string path;  // relative to DIR
  const std::string* data;
  unsigned mode;
};

bool planPackage(const PackageFiles& package, const std::string& prefix,
                 std::vector<PlannedFile>* plan, std::string* error) {
  for (const TreeEntry& entry : package.entries) {
    if (!entry.isRegularFile() || entry.skipByte != 0) continue;
    if (!isSafeEntryPath(entry.path)) {
      *error = "the file tree holds the unsafe path '" + entry.path + "'";
      return false;
    }
    plan->push_back({prefix + cleanPath(entry.path), &entry.data, entry.mode});
  }
  if (package.image.present) {
    plan->push_back({package.header.name + ".squashfs", &package.image.bytes, 0644});
  }
  return true;
}

bool planContents(const FileContents& contents, std::vector<PlannedFile>* plan,
                  std::string* error) {
  if (contents.isBundle && contents.bundleImage.present) {
    if (!isSafePackageName(contents.bundle.name)) {
      *error = "the bundle's name cannot name a file";
      return false;
    }
    plan->push_back({contents.bundle.name + ".squashfs", &contents.bundleImage.bytes, 0644});
  }
  for (const PackageFiles& package : contents.packages) {
    if (!isSafePackageName(package.header.name)) {
      *error = "the package name '" + package.header.name + "' cannot name a directory";
      return false;
    }
    std::string prefix = contents.isBundle ? package.header.name + "/" : std::string();
    if (!planPackage(package, prefix, plan, error)) return false;
  }
  return true;
}

bool usableTarget(const std::string& dir, std::string* error) {
  struct stat status;
  if (lstat(dir.c_str(), &status) != 0) {
    if (errno == ENOENT) return true;
    *error = systemFault(dir, "cannot stat");
    return false;
  }
  DirectoryReader reader(dir);
  std::string name;
  while (S_ISDIR(status.st_mode) && reader.isOpen() && reader.next(&name)) {
    if (name != "." && name != "..") {
      *error = dir + ": not empty; npk extracts into a new or empty directory";
      return false;
    }
  }
  if (!S_ISDIR(status.st_mode) || !reader.isOpen()) {
    *error = dir + ": exists and is no directory npk can extract into";
    return false;
  }
  return true;
}

}  // namespace

bool extractContents(const FileContents& contents, const std::string& dir, std::string* error) {
  std::vector<PlannedFile> plan;
  if (!planContents(contents, &plan, error) || !usableTarget(dir, error)) return false;
  std::string target = dir.size() > 1 && dir.back() == '/' ? dir.substr(0, dir.size() - 1) : dir;
  StagingDir staging(target);
  if (!staging.ok()) {
    *error = systemFault(dir, "cannot make a temporary directory beside it");
    return false;
  }
  for (const PlannedFile& file : plan) {
    if (!writeFile(staging.path(), file.path, *file.data, file.mode, error)) return false;
  }
  if (!staging.moveTo(target)) {
    *error = systemFault(dir, "cannot rename the extracted tree into place");
    return false;
  }
  return true;
}

// A temporary directory for one test, removed with everything below it
// when the object goes away. Mounts below it must be released first.
#ifndef TESTS_SUPPORT_TEMP_DIR_H_
#define TESTS_SUPPORT_TEMP_DIR_H_

#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Absolute path of `relative` below the directory.
  std::string file(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes `content` to `path`, creating missing parent directories.
// Returns false when the file cannot be written.
bool writeFile(const std::string& path, const std::string& content);
// Returns the whole content of `path`, or "<missing>" when it cannot be read.
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);
// Creates `path` and its missing parents.
bool makeDirs(const std::string& path);

}  // namespace testing_support

#endif  // TESTS_SUPPORT_TEMP_DIR_H_

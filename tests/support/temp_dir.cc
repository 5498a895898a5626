#include "support/temp_dir.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace testing_support {

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/installer-test-XXXXXX";
  if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& relative) const {
  if (!relative.empty() && relative[0] == '/') return path_ + relative;
  return path_ + "/" + relative;
}

bool makeDirs(const std::string& path) {
  std::error_code err;
  std::filesystem::create_directories(path, err);
  return !err;
}

bool writeFile(const std::string& path, const std::string& content) {
  std::string::size_type slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !makeDirs(path.substr(0, slash))) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return !out.fail();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool pathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace testing_support

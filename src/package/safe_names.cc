#include "package/safe_names.h"

namespace {

bool isControlCharacter(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool hasControlCharacter(const std::string& text) {
  for (char c : text) {
    if (isControlCharacter(c)) return true;
  }
  return false;
}

}  // namespace

bool isSafePackageName(const std::string& name) {
  // The name of a disabled package is part of the paths in its files list,
  // one a line: a line feed in it would split them into other paths.
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         !hasControlCharacter(name);
}

bool isSafeEntryPath(const std::string& path) {
  if (hasControlCharacter(path)) return false;
  std::string component;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    component = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (component == "..") return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  // The last component must be a file's name: a path ending in "/" or "."
  // would name a directory, whose later removal takes everything in it.
  return !component.empty() && component != ".";
}

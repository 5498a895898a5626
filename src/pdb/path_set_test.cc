#include "pdb/path_set.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> listed(const PathSet& paths) {
  std::vector<std::string> out;
  for (const std::string& path : paths) out.push_back(path);
  return out;
}

TEST(PathSet, IteratesAsASetOfStringsWould) {
  // Random paths with repeats, prefixes of each other, and bytes above
  // 0x7f, which sort after every ASCII byte as in std::string.
  std::set<std::string> reference;
  PathSet paths;
  uint32_t seed = 7;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    std::string path = "/flash/d" + std::to_string(seed % 17) + "/f" + std::to_string((seed >> 8) % 211);
    if (seed % 5 == 0) path += "\xc3\xa9";
    if (seed % 7 == 0) path = path.substr(0, path.size() / 2);
    reference.insert(path);
    paths.insert(path);
    if (i % 500 == 0) {
      EXPECT_EQ(std::vector<std::string>(reference.begin(), reference.end()), listed(paths));
    }
  }
  EXPECT_EQ(std::vector<std::string>(reference.begin(), reference.end()), listed(paths));
  EXPECT_EQ(reference.size(), paths.size());
  EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), reference);

  // A path holding a zero byte is one path, not two.
  PathSet odd{std::string("/a\0b", 4), "/a", std::string("/a\0b", 4)};
  EXPECT_EQ((std::vector<std::string>{"/a", std::string("/a\0b", 4)}), listed(odd));

  paths.clear();
  EXPECT_TRUE(paths.empty());
  EXPECT_EQ(paths.begin(), paths.end());
  paths = {"/z", "/y", "/z"};
  EXPECT_EQ((std::vector<std::string>{"/y", "/z"}), listed(paths));
  EXPECT_EQ(2u, paths.size());
}

}  // namespace

#include "commit/path_arena.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PathArena, EveryStringComesBackAcrossBlocksAndLengthBytes) {
  // Lengths around the one-, two- and three-byte length forms, strings
  // that fill a block to its end, and one longer than a block.
  std::vector<size_t> lengths = {0, 1, 127, 128, 16383, 16384, 65530, 65536, 70000, 3, 200000, 5};
  for (size_t i = 0; i < 5000; ++i) lengths.push_back(i % 97);
  PathArena arena;
  std::vector<PathArena::Ref> refs;
  std::vector<std::string> strings;
  for (size_t i = 0; i < lengths.size(); ++i) {
    strings.push_back(std::string(lengths[i], static_cast<char>('a' + i % 26)));
    refs.push_back(arena.add(strings.back()));
    ASSERT_NE(PathArena::kNone, refs.back());
  }
  for (size_t i = 0; i < strings.size(); ++i) ASSERT_EQ(strings[i], arena.at(refs[i])) << i;
  EXPECT_GE(arena.usedBytes(), 200000u + 70000u);
  arena.clear();
  EXPECT_EQ(0u, arena.usedBytes());
  EXPECT_EQ("again", arena.at(arena.add("again")));
}

}  // namespace

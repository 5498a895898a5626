#include "package_diff.h"

#include <sstream>

#include <gtest/gtest.h>

#include "package/package_writer.h"

namespace {

std::string member(const std::string& name, PackageVersion version,
                   const std::vector<FileTreeEntry>& tree) {
  PackageWriter writer;
  PackageInfo info(name);
  info.version = version;
  writer.addDescription(info);
  writer.addFileTree(tree);
  writer.addPart(kPartSignature, std::string(68, '\0'));
  return writer.bytes().substr(8);
}

FileContents bundle(const std::vector<std::string>& members, const std::string& image) {
  PackageInfo info("suite");
  info.isBundle = true;
  PackageWriter writer;
  writer.addDescription(info);
  if (!image.empty()) writer.addPart(kPartSquashfsImage, image);
  for (const std::string& bytes : members) writer.addRaw(bytes);
  std::stringbuf source(writer.bytes(), std::ios::in);
  FileContents contents;
  std::string error;
  EXPECT_TRUE(readFileContents(&source, false, &contents, &error)) << error;
  return contents;
}

TEST(NpkPackageDiff, MatchesBundleMembersByName) {
  FileContents a = bundle({member("dhcp", 0x07010000, {{0100644, 0, "x", "1", {}}}),
                           member("old", 0x07010000, {})},
                          "image one");
  FileContents b = bundle({member("new", 0x07020000, {}),
                           member("dhcp", 0x07010000, {{0100600, 1, "x", "1", {}},
                                                       {0120777, 0, "l", "x", {}}})},
                          "");
  std::ostringstream out;
  printDifferences(diffContents(a, b), out);
  EXPECT_EQ(
      "field image: removed '9 bytes, sha256 "
      "b873cce066eb02edb88d8bbb06a2b53fe97b14d93b7af43f88f5c57072a61904'\n"
      "member dhcp: file added: l (1 bytes)\n"
      "member dhcp: file changed: x (mode 100644 -> 100600; skip no -> yes)\n"
      "member removed: old-7.1\n"
      "member added: new-7.2\n",
      out.str());
  EXPECT_TRUE(diffContents(a, a).empty());
  std::vector<std::string> lines;
  EXPECT_TRUE(fieldLines(a, "name", &lines));
  EXPECT_EQ(std::vector<std::string>{"suite"}, lines);
  EXPECT_FALSE(fieldLines(a, "colour", &lines));
}

}  // namespace

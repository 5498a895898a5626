// Compiles the source it tests (npk_test_support.h).
#include "content_listing.h"

#include <sstream>

#include <gtest/gtest.h>

#include "package/package_writer.h"

namespace {

std::string listed(const std::string& file, bool expectSuccess = true, bool digests = false) {
  std::stringbuf source(file, std::ios::in);
  std::ostringstream out;
  std::string error;
  EXPECT_EQ(expectSuccess, listContents(&source, digests, out, &error)) << error;
  return out.str() + (error.empty() ? "" : "error: " + error + "\n");
}

std::string package(const std::string& name, const std::vector<FileTreeEntry>& tree) {
  PackageWriter writer;
  writer.addDescription(PackageInfo(name));
  writer.addFileTree(tree);
  writer.addPart(kPartSignature, std::string(68, '\0'));
  return writer.bytes();
}

TEST(NpkContentListing, ShowsModesLikeLs) {
  EXPECT_EQ("-rw-r--r--", modeText(0100644));
  EXPECT_EQ("drwxr-xr-x", modeText(040755));
  EXPECT_EQ("lrwxrwxrwx", modeText(0120777));
  EXPECT_EQ("-rwsr-Sr-T", modeText(0107744));
  EXPECT_EQ("-rwxr-sr-t", modeText(0103755));
  EXPECT_EQ("?---------", modeText(0));
  EXPECT_EQ("crw-rw----", modeText(020660));
}

TEST(NpkContentListing, ListsEveryEntryWithSizeAndSkipFlag) {
  std::string file = package("a", {{040755, 0, "bin", "", {}},
                                   {0100755, 0, "bin/tool", "12345", {}},
                                   {0120777, 0, "bin/link", "tool", {}},
                                   {0100644, 1, "/etc/skipped", "xy", {}}});
  EXPECT_EQ(
      "drwxr-xr-x 040755          0 - bin\n"
      "-rwxr-xr-x 100755          5 - bin/tool\n"
      "lrwxrwxrwx 120777          4 - bin/link -> tool\n"
      "-rw-r--r-- 100644          2 skip /etc/skipped\n",
      listed(file));
  // SHA-256 of "12345" and of the link target "tool".
  EXPECT_EQ(
      "drwxr-xr-x 040755          0 - "
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 bin\n"
      "-rwxr-xr-x 100755          5 - "
      "5994471abb01112afcc18159f6cc74b4f511b99806da59b3caf5a9c173cacfc5 bin/tool\n"
      "lrwxrwxrwx 120777          4 - "
      "7c9bbe5ec9b3fb774e8fa0f54247e93c34ddf8e5d16fe3073420de0ae81a262d bin/link -> tool\n",
      listed(package("a", {{040755, 0, "bin", "", {}},
                           {0100755, 0, "bin/tool", "12345", {}},
                           {0120777, 0, "bin/link", "tool", {}}}),
             true, true));
}

TEST(NpkContentListing, HeadsEachBundleMember) {
  std::string a = package("a", {{0100644, 0, "x", "1", {}}});
  std::string b = package("b", {});
  PackageInfo bundle("bun");
  bundle.isBundle = true;
  PackageWriter writer;
  writer.addDescription(bundle);
  writer.addRaw(a.substr(8));
  writer.addRaw(b.substr(8));
  EXPECT_EQ(
      "a-0.0:\n"
      "-rw-r--r-- 100644          1 - x\n"
      "b-0.0:\n",
      listed(writer.bytes()));
}

TEST(NpkContentListing, StopsAtABrokenTree) {
  std::string file = package("a", {{0100644, 0, "x", "1", {}}, {0100644, 0, "y", "22", 9u}});
  EXPECT_EQ(
      "-rw-r--r-- 100644          1 - x\n"
      "-rw-r--r-- 100644          9 - y\n"
      "error: the file tree is broken: the data of 'y' ends early\n",
      listed(file, false));
  FileTreeEntry cutPath{0100644, 0, "long-path", "", {}};
  std::string tree = encodeFileTree({cutPath});
  PackageWriter writer;
  writer.addDescription(PackageInfo("a"));
  writer.addPart(kPartFileContainer, zlibCompress(tree.substr(0, tree.size() - 3)));
  EXPECT_EQ("error: the file tree is broken: an entry ends early\n",
            listed(writer.bytes(), false));
  std::string container = zlibCompress(encodeFileTree({FileTreeEntry{0100644, 0, "z", "3", {}}}));
  container.back() ^= 1;
  PackageWriter damaged;
  damaged.addDescription(PackageInfo("a"));
  damaged.addPart(kPartFileContainer, container);
  EXPECT_EQ("-rw-r--r-- 100644          1 - z\n"
            "error: the file tree is broken: its check value does not match\n",
            listed(damaged.bytes(), false));
  EXPECT_EQ("error: not a package file\n", listed("nothing", false));
}

}  // namespace

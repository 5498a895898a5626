// Compiles the source it tests (npk_test_support.h).
#include "part_listing.h"

#include <sstream>

#include <gtest/gtest.h>

#include "package/package_writer.h"

namespace {

PartListing listingOf(const std::string& file) {
  std::stringbuf source(file, std::ios::in);
  return listParts(&source, file.size());
}

std::string layout(const PartListing& listing) {
  std::string text;
  for (const PartRecord& part : listing.parts) {
    text += std::to_string(part.offset) + ":" + partTypeName(part.type) + ":" +
            std::to_string(part.length) + " ";
  }
  return text;
}

TEST(NpkPartListing, ListsEveryPartWithItsHeaderOffset) {
  PackageWriter writer(kUnrecordedMagic);
  writer.addSha256Marker();
  writer.addPart(kPartPackageHeader, std::string(36, 'h'));
  writer.addPart(77, "xyz");
  writer.addPart(kPartSignature, std::string(68, 's'));
  PartListing listing = listingOf(writer.bytes());
  EXPECT_TRUE(listing.isPackageFile());
  EXPECT_EQ("8:sha256-marker:0 14:package-header:36 56:unknown:3 65:signature:68 ",
            layout(listing));
  EXPECT_EQ(139u, listing.totalSize);
  EXPECT_TRUE(containerProblems(listing).empty());
}

TEST(NpkPartListing, NamesTheFaultsOfTheContainer) {
  EXPECT_EQ(std::vector<std::string>{"not a package file (shorter than the 8-byte file header)"},
            containerProblems(listingOf("\x1e\xf1")));
  EXPECT_EQ(std::vector<std::string>{"not a package file (magic 0x64636261)"},
            containerProblems(listingOf("abcdefgh")));

  PackageWriter lying;
  lying.addPart(kPartNote, "note");
  lying.setLengthWord(100);
  EXPECT_EQ(std::vector<std::string>{"the file header gives a size of 108 bytes, but the file has 18"},
            containerProblems(listingOf(lying.bytes())));

  PackageWriter cut;
  cut.addPart(kPartNote, "note");
  std::string file = cut.bytes();
  PartListing truncated = listingOf(file.substr(0, file.size() - 1));
  EXPECT_EQ("8:note:4 ", layout(truncated));
  EXPECT_EQ((std::vector<std::string>{
                "the file header gives a size of 18 bytes, but the file has 17",
                "the part of type 23 at offset 8 declares 4 bytes, but the file ends after 3"}),
            containerProblems(truncated));

  PackageWriter stray;
  stray.addPart(kPartNote, "note");
  stray.addRaw(std::string("\x01\x00", 2));
  EXPECT_EQ(std::vector<std::string>{"2 bytes after the last part are too few for a part header"},
            containerProblems(listingOf(stray.bytes())));
}

}  // namespace

#include "package/package_writer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <sstream>
#include <string>

namespace {

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

PackageInfo info(const std::string& name) {
  PackageInfo result(name);
  result.version = 0x07010003;
  result.buildTime = 0x65544321;
  result.headerFlags = 0x2;
  return result;
}

// Signature content that carries the digest it was made for: the 32
// digest bytes, then the algorithm, padded to `length`.
SignatureMaker echoDigest(uint32_t length) {
  return [length](const PackageDigest& digest) {
    std::string content(digest.bytes.begin(), digest.bytes.end());
    content += digest.sha256 ? '2' : '1';
    content.resize(length, 'p');
    return content;
  };
}

// Reads `file` like an installation does and checks, at every signature
// part, that the reader's digest is the one the writer signed. Returns the
// number of signature parts checked.
int checkSignedDigests(const std::string& file) {
  std::stringbuf source(file);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {kPartSignature};
  int checked = 0;
  while (reader.nextPart() == kPartSignature) {
    const uint8_t* digest = reader.finishDigest();
    size_t size = reader.digestIsSha256() ? 32 : 20;
    char signed_[33];
    EXPECT_EQ(33u, reader.readUndigested(signed_, sizeof signed_));
    EXPECT_EQ(hex(std::string(signed_, size)),
              hex(std::string(reinterpret_cast<const char*>(digest), size)));
    EXPECT_EQ(reader.digestIsSha256() ? '2' : '1', signed_[32]);
    ++checked;
  }
  return checked;
}

TEST(PackageWriterTest, FileHeaderAndParts) {
  PackageWriter writer(kUnrecordedMagic);
  writer.addPart(300, "ab");
  writer.addPartHeader(kPartNote, 0x01020304);
  writer.addRaw("xyz");
  EXPECT_EQ("fb0f10a1" "11000000" "2c01" "02000000" "6162" "1700" "04030201" "78797a",
            hex(writer.bytes()));
  writer.setLengthWord(0xFFFFFFF0);
  EXPECT_EQ("fb0f10a1f0ffffff", hex(writer.bytes().substr(0, 8)));
  writer.addSha256Marker();
  EXPECT_EQ("1900" "00000000", hex(writer.bytes().substr(25)));
}

TEST(PackageWriterTest, HeaderRecordsAndLists) {
  PackageInfo record = info("dhcp");
  EXPECT_EQ("64686370000000000000000000000000" "03000107" "21435465" "0000000000000000"
            "02000000",
            hex(encodeHeaderRecord(record, 36)));
  EXPECT_EQ(hex(encodeHeaderRecord(record, 36).substr(0, 32)),
            hex(encodeHeaderRecord(record, 32)));
  EXPECT_EQ(hex(encodeHeaderRecord(record, 36)) + "00000000",
            hex(encodeHeaderRecord(record, 40)));
  record.name = "a-name-longer-than-sixteen";
  EXPECT_EQ("a-name-longer-th", encodeHeaderRecord(record, 36).substr(0, 16));

  EXPECT_EQ("0000", hex(encodeList({})));
  EXPECT_EQ("0100" "73797374656d00000000000000000000" "00000107" "00000000" "00000207"
            "fbffffff",
            hex(encodeList({PackageRef("system", 0x07010000, 0x07020000, -5)})));
}

TEST(PackageWriterTest, DescriptionRoundTripsThroughTheReader) {
  PackageInfo written = info("wireless");
  written.architecture = "arm";
  written.note = "note";
  written.provides = {PackageRef("wifi", 1, 0, 3)};
  PackageInfo bundle = info("all");
  bundle.isBundle = true;
  PackageWriter writer;
  writer.addDescription(bundle);
  writer.addList(kPartBundleMembers, {PackageRef("wireless", 0, 0)});
  writer.addDescription(written);
  std::stringbuf source(writer.bytes());
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {18, 1, 24, 16, 2, 23, 3, 19, 17, 20};
  reader.nextPart();
  PackageInfo readBundle;
  ASSERT_TRUE(readPackageHeader(readBundle, reader));
  EXPECT_TRUE(readBundle.isBundle);
  EXPECT_EQ(kPartBundleMembers, reader.currentType());
  reader.nextPart();
  PackageInfo read;
  ASSERT_TRUE(readPackageHeader(read, reader));
  EXPECT_EQ("wireless", read.name);
  EXPECT_EQ(written.version, read.version);
  EXPECT_EQ(written.buildTime, read.buildTime);
  EXPECT_EQ(2u, read.headerFlags);
  EXPECT_EQ("arm", read.architecture);
  EXPECT_EQ("note", read.note);
  ASSERT_EQ(1u, read.provides.size());
  EXPECT_EQ(3, read.provides[0].priority);
  EXPECT_TRUE(read.depends.empty());
  EXPECT_EQ(-1, reader.currentType());
}

TEST(PackageWriterTest, FileTreeLayout) {
  FileTreeEntry link;
  link.mode = 0120777;
  link.skipByte = 1;
  link.path = "/l";
  link.data = "/t";
  link.declaredLength = 9;
  std::string tree = encodeFileTree({link});
  EXPECT_EQ("ffa1" + std::string(42, '0') + "01" "09000000" "0200" "2f6c" "2f74", hex(tree));

  std::string compressed = fileContainer({link});
  EXPECT_EQ(0x78, static_cast<uint8_t>(compressed[0]));  // zlib wrapper
  std::string plain(tree.size(), '\0');
  uLongf size = plain.size();
  ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(&plain[0]), &size,
                             reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()));
  EXPECT_EQ(tree, plain);
}

TEST(PackageWriterTest, SignaturesCoverWhatTheReaderDigests) {
  PackageInfo bundle = info("bundle");
  bundle.isBundle = true;
  PackageWriter writer;
  writer.addDescription(bundle);
  writer.addList(kPartBundleMembers, {PackageRef("one", 0, 0), PackageRef("two", 0, 0)});
  // First member: SHA-1, with parts the installer skips.
  writer.addDescription(info("one"));
  writer.addPart(99, "unknown");
  writer.addFileTree({FileTreeEntry{0100644, 0, "/a", "a", {}}});
  PackageDigest before = writer.digestBeforeSignature(100);
  PackageDigest given;
  writer.addSignature(100, [&given](const PackageDigest& digest) {
    given = digest;
    return echoDigest(100)(digest);
  });
  EXPECT_FALSE(given.sha256);
  EXPECT_EQ(before.bytes, given.bytes);
  // Second member: SHA-256 from its marker on.
  writer.addSha256Marker();
  writer.addDescription(info("two"));
  writer.addSignature(132, echoDigest(132));
  // Third member: no marker, but the switch to SHA-256 lasts.
  writer.addDescription(info("three"));
  writer.addSignature(68, echoDigest(68));
  writer.addPart(kPartArchitecture, "x86");
  EXPECT_EQ(3, checkSignedDigests(writer.bytes()));
}

TEST(PackageWriterTest, MarkerAfterTheHeaderStartsTheDigestThere) {
  PackageWriter writer;
  writer.addDescription(info("late"));
  size_t marker = writer.bytes().size();
  writer.addSha256Marker();
  writer.addPart(kPartNote, "covered");
  PackageDigest digest = writer.digestBeforeSignature(68);
  writer.addPartHeader(kPartSignature, 68);
  std::string file = writer.bytes();
  unsigned char expected[32];
  unsigned int size = 0;
  EVP_Digest(file.data() + marker, file.size() - marker, expected, &size, EVP_sha256(), nullptr);
  EXPECT_TRUE(digest.sha256);
  EXPECT_EQ(hex(std::string(reinterpret_cast<char*>(expected), 32)),
            hex(std::string(digest.bytes.begin(), digest.bytes.end())));

  writer.addRaw(echoDigest(68)(digest));
  EXPECT_EQ(1, checkSignedDigests(writer.bytes()));
}

}  // namespace

#include "package/content_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_reader.h"
#include "package/package_writer.h"

namespace {

// Bytes that do not compress, so that compressed offsets track plain ones.
std::string noise(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 24);
  }
  return bytes;
}

FileTreeEntry entry(uint16_t mode, const std::string& path, const std::string& data,
                    uint8_t skipByte = 0) {
  FileTreeEntry result;
  result.mode = mode;
  result.path = path;
  result.data = data;
  result.skipByte = skipByte;
  return result;
}

// A package holding `container` as its type-4 part, then a note part that
// shows whether the reader still finds its way after the walk.
class TreeFixture {
 public:
  explicit TreeFixture(const std::string& container) {
    PackageWriter writer;
    writer.addPart(kPartFileContainer, container);
    writer.addPart(kPartNote, "after");
    source_.str(writer.bytes());
    reader_.reset(new PackageReader(&source_, true, nullptr));
    reader_->wantedTypes = {kPartFileContainer, kPartNote};
    reader_->nextPart();
  }
  PackageReader& reader() { return *reader_; }
  bool noteFollows() {
    if (reader_->nextPart() != kPartNote) return false;
    char note[5];
    reader_->read(note, 5);
    return std::string(note, 5) == "after";
  }

 private:
  std::stringbuf source_;
  std::unique_ptr<PackageReader> reader_;
};

// Walks the tree; extracted entries are read in 16384-byte pieces. Returns
// one line per entry ("path:data" or "path:-" when passed over) and the end.
std::string walk(PackageReader& reader) {
  ContentWalker walker(reader);
  ContentEntry current;
  std::string log;
  WalkStep step;
  while ((step = walker.next(&current)) == WalkStep::kEntry) {
    log += current.path + ":";
    if (!current.extracted()) {
      log += "-\n";
      continue;
    }
    std::string data;
    char piece[16384];
    while (walker.dataUnread() > 0) {
      size_t size = std::min<size_t>(walker.dataUnread(), sizeof piece);
      if (!walker.readData(piece, size)) break;
      data.append(piece, size);
    }
    if (walker.dataUnread() > 0) continue;  // the next step tells why
    log += (data.size() > 20 ? std::to_string(data.size()) + " bytes" : data) + "\n";
  }
  return log + (step == WalkStep::kEnd ? "end" : "broken");
}

TEST(ContentStreamTest, EmptyTreesEndAtOnce) {
  TreeFixture emptyPart("");
  EXPECT_EQ("end", walk(emptyPart.reader()));
  EXPECT_TRUE(emptyPart.noteFollows());

  TreeFixture emptyStream(zlibCompress(""));
  EXPECT_EQ("end", walk(emptyStream.reader()));
  EXPECT_TRUE(emptyStream.noteFollows());
}

TEST(ContentStreamTest, OnlyRegularFilesWithoutSkipByteAreExtracted) {
  std::string big = noise(100000, 1);
  TreeFixture fixture(fileContainer({
      entry(040755, "/etc", ""),
      entry(0120777, "/etc/link", "/target/file"),
      entry(0100644, "/etc/skipped", "not extracted", 1),
      entry(0100600, "etc/relative", "relative data"),
      entry(0100755, "/bin/big", big),
      entry(0140000, "/run/socket", noise(5000, 2)),
      entry(0100644, "/etc/last", "last"),
  }));
  EXPECT_EQ(
      "/etc:-\n/etc/link:-\n/etc/skipped:-\netc/relative:relative data\n"
      "/bin/big:100000 bytes\n/run/socket:-\n/etc/last:last\nend",
      walk(fixture.reader()));
  EXPECT_TRUE(fixture.noteFollows());

  TreeFixture again(fileContainer({entry(0100755, "/bin/big", big)}));
  ContentWalker walker(again.reader());
  ContentEntry current;
  ASSERT_EQ(WalkStep::kEntry, walker.next(&current));
  EXPECT_EQ(0100755, current.mode);
  EXPECT_EQ(100000u, current.dataLength);
  std::string data(100000, '\0');
  ASSERT_TRUE(walker.readData(&data[0], 70000));
  ASSERT_TRUE(walker.readData(&data[70000], 30000));
  EXPECT_EQ(big, data);
  EXPECT_FALSE(walker.readData(&data[0], 1));
  EXPECT_EQ(WalkStep::kEnd, walker.next(&current));
}

TEST(ContentStreamTest, WhereATreeEndsEarly) {
  std::string complete = encodeFileTree({entry(0100644, "/a", "first")});
  std::string partial = encodeFileTree({entry(0100644, "/b", "second")});
  TreeFixture midHeader(zlibCompress(complete + partial.substr(0, 29)));
  EXPECT_EQ("/a:first\nend", walk(midHeader.reader()));
  EXPECT_TRUE(midHeader.noteFollows());

  TreeFixture midPath(zlibCompress(complete + partial.substr(0, 31)));
  EXPECT_EQ("/a:first\nbroken", walk(midPath.reader()));

  TreeFixture midData(zlibCompress(complete + partial.substr(0, partial.size() - 1)));
  EXPECT_EQ("/a:first\n/b:broken", walk(midData.reader()));
  EXPECT_TRUE(midData.noteFollows());

  std::string link = encodeFileTree({entry(0120777, "/l", "/twelve/byte")});
  TreeFixture midSkippedData(zlibCompress(complete + link.substr(0, link.size() - 1)));
  EXPECT_EQ("/a:first\n/l:-\nend", walk(midSkippedData.reader()));

  // Data left unread by the caller is passed over; for an extracted entry
  // its early end still makes the package broken.
  TreeFixture unread(zlibCompress(partial.substr(0, partial.size() - 1)));
  ContentWalker walker(unread.reader());
  ContentEntry current;
  ASSERT_EQ(WalkStep::kEntry, walker.next(&current));
  EXPECT_EQ(WalkStep::kBroken, walker.next(&current));
  EXPECT_EQ(WalkStep::kBroken, walker.next(&current));
}

TEST(ContentStreamTest, DeclaredLengthsBeyondTheTree) {
  FileTreeEntry huge = entry(0100644, "/huge", "only this");
  huge.declaredLength = 0xFFFFFFFF;
  TreeFixture extracted(fileContainer({huge}));
  EXPECT_EQ("/huge:broken", walk(extracted.reader()));

  huge.mode = 0120777;
  TreeFixture skipped(fileContainer({huge}));
  EXPECT_EQ("/huge:-\nend", walk(skipped.reader()));
}

TEST(ContentStreamTest, CorruptCompressedData) {
  TreeFixture notZlib("this is not a zlib stream");
  EXPECT_EQ("broken", walk(notZlib.reader()));
  EXPECT_TRUE(notZlib.noteFollows());

  // Noise is stored as it is: damage inside it is found by the check
  // value alone, once the whole tree has come out.
  std::string container = fileContainer({entry(0100644, "/f", noise(50000, 3))});
  container[container.size() / 2] ^= 0x55;
  container[container.size() / 2 + 1] ^= 0x55;
  TreeFixture corruptData(container);
  EXPECT_EQ("/f:50000 bytes\nbroken", walk(corruptData.reader()));
  EXPECT_TRUE(corruptData.noteFollows());

  // Damage to compressed codes ends the tree where it is.
  std::string text;
  for (int line = 0; text.size() < 60000; ++line) text += "line " + std::to_string(line) + "\n";
  std::string coded = fileContainer({entry(0100644, "/t", text), entry(0100644, "/u", "u")});
  coded.replace(coded.size() / 2, 8, 8, '\xff');
  TreeFixture corruptCodes(coded);
  EXPECT_EQ("/t:broken", walk(corruptCodes.reader()));
  EXPECT_TRUE(corruptCodes.noteFollows());

  // A stream cut anywhere is broken, after what inflated so far; even the
  // whole tree without its check value. An empty part is an empty tree.
  std::string two = fileContainer({entry(0100644, "/a", "a"), entry(0100644, "/b", "b")});
  const std::set<std::string> outcomes = {"broken", "/a:broken", "/a:a\nbroken", "/a:a\n/b:broken",
                                          "/a:a\n/b:b\nbroken"};
  std::set<std::string> seen;
  for (size_t length = 1; length < two.size(); ++length) {
    TreeFixture cut(two.substr(0, length));
    std::string log = walk(cut.reader());
    EXPECT_EQ(1u, outcomes.count(log)) << length << ": " << log;
    seen.insert(log);
  }
  EXPECT_EQ(outcomes, seen);
  TreeFixture empty("");
  EXPECT_EQ("end", walk(empty.reader()));
  TreeFixture whole(two);
  EXPECT_EQ("/a:a\n/b:b\nend", walk(whole.reader()));
}

TEST(ContentStreamTest, StreamSkipsOnlyForward) {
  std::string plain = noise(10000, 4);
  TreeFixture fixture(zlibCompress(plain));
  ContentStream stream(fixture.reader());
  char byte;
  stream.seekg(5000, std::ios_base::cur);
  EXPECT_EQ(5000, static_cast<int>(stream.tellg()));
  ASSERT_TRUE(stream.get(byte));
  EXPECT_EQ(plain[5000], byte);
  stream.seekg(-2, std::ios_base::cur);
  EXPECT_TRUE(stream.fail());
  stream.clear();
  stream.seekg(0, std::ios_base::end);
  EXPECT_TRUE(stream.fail());
  stream.clear();
  stream.seekg(4998, std::ios_base::cur);
  EXPECT_EQ(9999, static_cast<int>(stream.tellg()));
  stream.seekg(2, std::ios_base::cur);  // one byte short
  EXPECT_TRUE(stream.fail());
}

TEST(ContentStreamTest, ReadsOfAnySizeGiveTheSameBytesAndPositions) {
  // Compressible and incompressible stretches, so that inflate calls
  // produce pieces of many sizes.
  std::string plain = noise(70000, 5) + std::string(200000, 'z') + noise(30001, 6);
  const size_t sizes[] = {1, 30, 4095, 4096, 16383, 16384, 65536, 100000};
  for (size_t first : sizes) {
    TreeFixture fixture(zlibCompress(plain));
    ContentStream stream(fixture.reader());
    std::string read;
    std::vector<char> piece(100000);
    for (size_t i = 0; read.size() < plain.size(); ++i) {
      // Alternate between the buffer and the direct path.
      size_t want = i % 2 == 0 ? first : sizes[i % 8];
      want = std::min(want, plain.size() - read.size());
      stream.read(piece.data(), static_cast<std::streamsize>(want));
      ASSERT_EQ(want, static_cast<size_t>(stream.gcount())) << first << " at " << read.size();
      read.append(piece.data(), want);
      ASSERT_EQ(read.size(), static_cast<size_t>(stream.tellg()));
    }
    EXPECT_EQ(plain, read) << first;
    stream.read(piece.data(), 1);
    EXPECT_EQ(0, stream.gcount());
    EXPECT_TRUE(stream.eof());
  }
}

}  // namespace

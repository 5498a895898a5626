#include "package/inflater.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "package/content_stream.h"
#include "package/package_reader.h"
#include "package/package_writer.h"
#include "package/zlib_inflater.h"
#ifdef INSTALLER_HAVE_ISAL
#include "package/isal_inflater.h"
#endif

namespace {

typedef std::function<std::unique_ptr<Inflater>()> EngineMaker;

std::vector<std::pair<std::string, EngineMaker>> engines() {
  std::vector<std::pair<std::string, EngineMaker>> all;
  all.emplace_back("zlib", [] { return std::unique_ptr<Inflater>(new ZlibInflater); });
#ifdef INSTALLER_HAVE_ISAL
  all.emplace_back("isal", [] { return std::unique_ptr<Inflater>(new IsalInflater); });
#endif
  return all;
}

// A source that hands out at most `piece` bytes per read.
class PieceBuf : public std::stringbuf {
 public:
  PieceBuf(const std::string& bytes, size_t piece) : std::stringbuf(bytes, std::ios::in), piece_(piece) {}

 protected:
  std::streamsize xsgetn(char* out, std::streamsize n) override {
    return std::stringbuf::xsgetn(out, std::min<std::streamsize>(n, static_cast<std::streamsize>(piece_)));
  }

 private:
  size_t piece_;
};

// Everything the stream gives, and "!" when its check value failed.
std::string inflated(const EngineMaker& engine, const std::string& stream, size_t piece = 1 << 20) {
  PieceBuf source(stream, piece);
  InflateStreamBuf buffer(&source, engine());
  std::string bytes;
  char chunk[70000];
  std::streamsize got;
  while ((got = buffer.sgetn(chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(got));
  return buffer.checkFailed() ? bytes + "!" : bytes;
}

std::string compressed(const std::string& data, int level) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  std::string out(length, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &length, reinterpret_cast<const Bytef*>(data.data()),
            static_cast<uLong>(data.size()), level);
  out.resize(length);
  return out;
}

std::string sampleData() {
  std::string data;
  uint32_t seed = 11;
  for (int line = 0; data.size() < 300000; ++line) {
    data += "entry " + std::to_string(line) + " of the tree\n";
    if (line % 50 == 0) {
      for (int i = 0; i < 3000; ++i) data += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    }
  }
  return data;
}

TEST(InflaterTest, EnginesGiveTheSameBytesForWholeAndCutStreams) {
  const std::string data = sampleData();
  for (int level : {0, 1, 6, 9}) {
    std::string stream = compressed(data, level);
    std::string damagedCheck = stream;
    damagedCheck.back() ^= 1;
    for (const auto& engine : engines()) {
      for (size_t piece : {size_t(1) << 20, size_t(16384), size_t(7)}) {
        SCOPED_TRACE(engine.first + " level " + std::to_string(level) + " piece " + std::to_string(piece));
        EXPECT_EQ(data, inflated(engine.second, stream, piece));
        // What follows the check value is not read.
        EXPECT_EQ(data, inflated(engine.second, stream + "trailing bytes", piece));
        EXPECT_EQ(data + "!", inflated(engine.second, damagedCheck, piece));
      }
      // Cut anywhere: the same bytes from both, as much as the part holds.
      for (size_t cut : {size_t(0), size_t(1), size_t(2), size_t(3), stream.size() / 3,
                         stream.size() - 5, stream.size() - 1}) {
        SCOPED_TRACE(engine.first + " level " + std::to_string(level) + " cut " + std::to_string(cut));
        std::string got = inflated(engine.second, stream.substr(0, cut), 4096);
        EXPECT_EQ(inflated(engines()[0].second, stream.substr(0, cut), 1 << 20), got);
        EXPECT_EQ(0, data.compare(0, got.size(), got));
        if (cut >= stream.size() - 4) {
          EXPECT_EQ(data, got);
        }
        if (cut < stream.size() / 2) {
          EXPECT_GT(data.size() / 2, got.size());
        }
      }
    }
  }
}

TEST(InflaterTest, TheHeaderDecidesAloneAndAlike) {
  std::string body = compressed("header test", 6).substr(2);
  for (const auto& engine : engines()) {
    SCOPED_TRACE(engine.first);
    EXPECT_EQ("header test", inflated(engine.second, std::string("\x78\x9c") + body));
    // A 256-byte window, as small as the header can say.
    EXPECT_EQ("header test", inflated(engine.second, std::string("\x08\x1d") + body));
    EXPECT_EQ("", inflated(engine.second, std::string("\x78\x9d") + body));  // header check
    EXPECT_EQ("", inflated(engine.second, std::string("\x79\x9b") + body));  // method 9
    EXPECT_EQ("", inflated(engine.second, std::string("\x88\x98") + body));  // 64 KiB window
    EXPECT_EQ("", inflated(engine.second, std::string("\x78\xbb") + body));  // preset dictionary
    EXPECT_EQ("", inflated(engine.second, std::string("\x78")));
    EXPECT_EQ("", inflated(engine.second, ""));
  }
}

TEST(InflaterTest, DamageEndsBothAtTheSameByte) {
  const std::string data = sampleData();
  // Stored blocks: the length of the second one no longer matches its
  // complement, so exactly the first block comes out.
  std::string stored = compressed(data, 0);
  size_t firstLength = static_cast<uint8_t>(stored[3]) | static_cast<uint8_t>(stored[4]) << 8;
  stored[2 + 5 + firstLength + 1] ^= 0x10;
  // The first block is of the reserved type 3.
  std::string reserved = compressed(data, 6);
  reserved[2] = static_cast<char>(reserved[2] | 0x06);
  for (const auto& engine : engines()) {
    SCOPED_TRACE(engine.first);
    EXPECT_EQ(data.substr(0, firstLength), inflated(engine.second, stored));
    EXPECT_EQ(data.substr(0, firstLength), inflated(engine.second, stored, 5));
    EXPECT_EQ("", inflated(engine.second, reserved));
  }
}

// The walk of a package whose type-4 part is `container`: "end" or
// "broken", after the number of entries read.
std::string walkVerdict(const EngineMaker& engine, const std::string& container) {
  PackageWriter writer;
  writer.addPart(kPartFileContainer, container);
  std::stringbuf source(writer.bytes(), std::ios::in);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {kPartFileContainer};
  if (reader.nextPart() != kPartFileContainer) return "no part";
  ContentWalker walker(reader, engine());
  ContentEntry entry;
  WalkStep step;
  char piece[16384];
  while ((step = walker.next(&entry)) == WalkStep::kEntry) {
    while (entry.extracted() && walker.dataUnread() > 0) {
      size_t n = std::min<size_t>(walker.dataUnread(), sizeof piece);
      if (!walker.readData(piece, n)) break;
    }
  }
  return step == WalkStep::kEnd ? "end" : "broken";
}

TEST(InflaterTest, EitherEngineGivesAWalkTheSameVerdict) {
  std::vector<FileTreeEntry> entries(3);
  entries[0].path = "/etc/a";
  entries[0].data = sampleData().substr(0, 70000);
  entries[1].path = "/etc/link";
  entries[1].mode = 0120777;
  entries[1].data = "/etc/a";
  entries[2].path = "/etc/b";
  entries[2].data = "b";
  std::string whole = fileContainer(entries);
  std::string badCheck = whole;
  badCheck.back() ^= 1;
  for (const auto& engine : engines()) {
    SCOPED_TRACE(engine.first);
    EXPECT_EQ("end", walkVerdict(engine.second, whole));
    EXPECT_EQ("end", walkVerdict(engine.second, whole + "after"));
    EXPECT_EQ("end", walkVerdict(engine.second, ""));
    EXPECT_EQ("broken", walkVerdict(engine.second, badCheck));
    for (size_t cut = 1; cut < whole.size(); cut += cut < 64 ? 1 : 97) {
      EXPECT_EQ("broken", walkVerdict(engine.second, whole.substr(0, cut))) << cut;
    }
  }
}

TEST(InflaterTest, TheBuildNamesItsEngine) {
  std::string name = inflaterName();
#ifdef INSTALLER_INFLATER_ISAL
  EXPECT_EQ("isal", name);
#else
  EXPECT_EQ("zlib", name);
#endif
  EXPECT_EQ("made by the build's engine",
            inflated([] { return makeInflater(); }, compressed("made by the build's engine", 6)));
}

}  // namespace

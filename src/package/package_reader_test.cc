#include "package/package_reader.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "package/package_writer.h"
#include "pdb/package.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

// An in-memory source that counts its seeks, or refuses them like a pipe.
class MemorySource : public std::stringbuf {
 public:
  explicit MemorySource(const std::string& bytes, bool seekable = true)
      : std::stringbuf(bytes, std::ios_base::in), seekable_(seekable) {}
  int seeks = 0;

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir way,
                   std::ios_base::openmode which) override {
    if (offset != 0 || way != std::ios_base::cur) ++seeks;
    if (!seekable_) return pos_type(off_type(-1));
    return std::stringbuf::seekoff(offset, way, which);
  }
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
    ++seeks;
    if (!seekable_) return pos_type(off_type(-1));
    return std::stringbuf::seekpos(position, which);
  }

 private:
  bool seekable_;
};

// The read end of a real pipe(2), fed by a child process.
class PipeSource {
 public:
  explicit PipeSource(const std::string& bytes) {
    int fds[2];
    if (pipe(fds) != 0) return;
    writer_ = fork();
    if (writer_ == 0) {
      close(fds[0]);
      size_t done = 0;
      while (done < bytes.size()) {
        ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
        if (n <= 0) _exit(1);
        done += static_cast<size_t>(n);
      }
      _exit(0);
    }
    close(fds[1]);
    buffer_.open("/proc/self/fd/" + std::to_string(fds[0]), std::ios_base::in | std::ios_base::binary);
    close(fds[0]);
  }
  ~PipeSource() {
    buffer_.close();  // a writer still blocked ends on SIGPIPE
    if (writer_ > 0) waitpid(writer_, nullptr, 0);
  }
  std::filebuf* buffer() { return &buffer_; }

 private:
  pid_t writer_ = -1;
  std::filebuf buffer_;
};

std::string oneShot(const EVP_MD* type, const std::string& bytes) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), out, &size, type, nullptr);
  return std::string(reinterpret_cast<char*>(out), size);
}

std::string digestText(const uint8_t* digest, size_t size) {
  return std::string(reinterpret_cast<const char*>(digest), size);
}

PackageInfo sampleInfo() {
  PackageInfo info("routing");
  info.version = 0x07010003;
  info.buildTime = 1700000000;
  info.headerFlags = PackageInfo::bootImageFlag;
  return info;
}

std::string readAll(PackageReader& reader) {
  std::string content(reader.partUnread(), '\0');
  reader.read(&content[0], static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<size_t>(reader.gcount()));
  return content;
}

TEST(PackageReaderTest, FileHeaderDecidesWhetherPartsCanBeRead) {
  MemorySource shortFile(std::string("\x1E\xF1\xD0\xBA\0\0\0", 7));
  PackageReader shortReader(&shortFile, true, nullptr);
  EXPECT_EQ(0xFFFFFFFFu, shortReader.magic());
  EXPECT_EQ(-1, shortReader.nextPart());

  PackageWriter wrongMagic(0x12345678);
  wrongMagic.addHeader(kPartPackageHeader, sampleInfo());
  MemorySource wrongFile(wrongMagic.bytes());
  PackageReader wrongReader(&wrongFile, false, nullptr);
  wrongReader.wantedTypes = {1};
  EXPECT_EQ(0x12345678u, wrongReader.magic());
  EXPECT_EQ(-1, wrongReader.nextPart());
  EXPECT_TRUE(wrongReader.fail());

  PackageWriter unrecorded(kUnrecordedMagic);
  unrecorded.addHeader(kPartPackageHeader, sampleInfo());
  unrecorded.setLengthWord(1000);
  MemorySource unrecordedFile(unrecorded.bytes());
  PackageReader reader(&unrecordedFile, false, nullptr);
  reader.wantedTypes = {1};
  EXPECT_EQ(kUnrecordedMagic, reader.magic());
  EXPECT_EQ(1008u, reader.totalSize());
  EXPECT_EQ(1, reader.nextPart());
  EXPECT_EQ(14u, reader.partOffset());
  EXPECT_EQ(36u, reader.partLength());
  EXPECT_EQ(-1, reader.nextPart());
  EXPECT_EQ(-1, reader.nextPart());  // stays at the end
}

TEST(PackageReaderTest, HeaderRecordsOfEachSize) {
  PackageInfo info = sampleInfo();
  info.name = "abcdefghijklmnop";  // 16 characters, no terminator
  info.headerFlags = 0x3;
  PackageWriter writer;
  writer.addHeader(kPartPackageHeader, info, 32);
  writer.addHeader(kPartPackageHeader, info, 36);
  writer.addHeader(kPartBundleHeader, info, 40);
  writer.addPart(kPartFileContainer, "after the long record");
  MemorySource source(writer.bytes());
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {1, 18, 4};

  reader.nextPart();
  PackageInfo shortRecord;
  shortRecord.headerFlags = 0x55;
  ASSERT_TRUE(readPackageHeader(shortRecord, reader));
  EXPECT_EQ("abcdefghijklmnop", shortRecord.name);
  EXPECT_EQ(0x07010003u, shortRecord.version);
  EXPECT_EQ(1700000000u, shortRecord.buildTime);
  EXPECT_EQ(0u, shortRecord.headerFlags);
  EXPECT_FALSE(shortRecord.isBundle);
  EXPECT_EQ("i386", shortRecord.architecture);
  EXPECT_TRUE(reader.good());

  PackageInfo fullRecord;
  ASSERT_TRUE(readPackageHeader(fullRecord, reader));
  EXPECT_EQ(3u, fullRecord.headerFlags);

  PackageInfo longRecord;
  ASSERT_TRUE(readPackageHeader(longRecord, reader));
  EXPECT_TRUE(longRecord.isBundle);
  EXPECT_EQ(3u, longRecord.headerFlags);
  // The 4 bytes after the flags word were skipped, not read as a part.
  EXPECT_EQ(kPartFileContainer, reader.currentType());
  EXPECT_EQ("after the long record", readAll(reader));

  PackageWriter cut;
  cut.addHeader(kPartPackageHeader, info, 31);
  MemorySource cutSource(cut.bytes());
  PackageReader cutReader(&cutSource, false, nullptr);
  cutReader.wantedTypes = {1};
  cutReader.nextPart();
  EXPECT_FALSE(readPackageHeader(shortRecord, cutReader));
}

TEST(PackageReaderTest, DescriptivePartsInTheirOrder) {
  PackageInfo info = sampleInfo();
  info.attribute24 = std::string("raw\0bytes", 9);
  info.architecture = "arm64";
  info.attribute2 = " untrimmed \n";
  info.note = "a note";
  info.depends = {PackageRef("system", 0x07010000, 0x07020000)};
  info.provides = {PackageRef("wireless", 0x07010003, 0, -5), PackageRef("wifi", 1, 2, 7)};
  info.conflicts = {PackageRef("legacy-wireless", 0, 0)};
  PackageWriter writer;
  writer.addDescription(info);
  writer.addPart(kPartSquashfsImage, "image");
  MemorySource source(writer.bytes());
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {18, 1, 24, 16, 2, 23, 3, 19, 17, 21};
  reader.nextPart();

  PackageInfo read;
  ASSERT_TRUE(readPackageHeader(read, reader));
  EXPECT_EQ(info.attribute24, read.attribute24);
  EXPECT_EQ("arm64", read.architecture);
  EXPECT_EQ(" untrimmed \n", read.attribute2);
  EXPECT_EQ("a note", read.note);
  ASSERT_EQ(1u, read.depends.size());
  EXPECT_EQ("system", read.depends[0].name);
  EXPECT_EQ(0x07010000u, read.depends[0].minVersion);
  EXPECT_EQ(0x07020000u, read.depends[0].maxVersion);
  ASSERT_EQ(2u, read.provides.size());
  EXPECT_EQ(-5, read.provides[0].priority);
  EXPECT_EQ("wifi", read.provides[1].name);
  EXPECT_EQ(7, read.provides[1].priority);
  ASSERT_EQ(1u, read.conflicts.size());
  EXPECT_EQ("legacy-wireless", read.conflicts[0].name);
  EXPECT_TRUE(read.squashfsImage);
  EXPECT_EQ(kPartSquashfsImage, reader.currentType());
  EXPECT_EQ("image", readAll(reader));
}

TEST(PackageReaderTest, PartsOutOfOrderStayCurrent) {
  PackageWriter writer;
  writer.addHeader(kPartPackageHeader, sampleInfo());
  writer.addPart(kPartArchitecture, "mips");
  writer.addPart(kPartAttribute24, "late");
  MemorySource source(writer.bytes());
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {1, 24, 16};
  reader.nextPart();
  PackageInfo read;
  ASSERT_TRUE(readPackageHeader(read, reader));
  EXPECT_EQ("mips", read.architecture);
  EXPECT_EQ("", read.attribute24);
  EXPECT_FALSE(read.squashfsImage);
  EXPECT_EQ(kPartAttribute24, reader.currentType());
}

TEST(PackageReaderTest, ListsAndTheirLimits) {
  std::string promisesThree = encodeList({PackageRef("one", 1, 2), PackageRef("two", 3, 4)});
  promisesThree[0] = 3;
  PackageWriter writer;
  writer.addList(kPartBundleMembers, {});
  writer.addPart(kPartBundleMembers, encodeList({PackageRef("a", 1, 0)}) + "trailing bytes");
  writer.addPart(kPartBundleMembers, promisesThree);
  MemorySource source(writer.bytes());
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {20};

  std::vector<PackageRef> list = {PackageRef("stale", 0, 0)};
  ASSERT_EQ(20, reader.nextPart());
  EXPECT_EQ(2u, reader.partLength());
  EXPECT_TRUE(readPackageList(reader, list));
  EXPECT_TRUE(list.empty());

  ASSERT_EQ(20, reader.nextPart());
  EXPECT_TRUE(readPackageList(reader, list));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("a", list[0].name);
  EXPECT_EQ(14u, reader.partUnread());  // ignored, left for nextPart

  ASSERT_EQ(20, reader.nextPart());
  EXPECT_FALSE(readPackageList(reader, list));
  EXPECT_EQ(2u, list.size());

  PackageInfo info = sampleInfo();
  PackageWriter header;
  header.addHeader(kPartPackageHeader, info);
  header.addPart(kPartProvides, promisesThree);
  MemorySource headerSource(header.bytes());
  PackageReader headerReader(&headerSource, false, nullptr);
  headerReader.wantedTypes = {1, 19};
  headerReader.nextPart();
  EXPECT_FALSE(readPackageHeader(info, headerReader));
}

TEST(PackageReaderTest, LengthsLargerThanTheFile) {
  PackageWriter writer;
  writer.addHeader(kPartPackageHeader, sampleInfo());
  writer.addPartHeader(kPartNote, 1000);  // more than the file holds
  writer.addRaw(std::string(100, 'n'));
  MemorySource source(writer.bytes());
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {1, 23};
  reader.nextPart();
  // A cut text part is no reason to refuse the header: what arrived is
  // kept and the reader stands at the early end of the file, where the
  // caller looks for its next part.
  PackageInfo info;
  EXPECT_TRUE(readPackageHeader(info, reader));
  EXPECT_EQ(std::string(100, 'n'), info.note);
  EXPECT_EQ(-1, reader.currentType());
  EXPECT_TRUE(reader.fail());
  EXPECT_EQ(-1, reader.nextPart());

  // A text part longer than the bound is not read at all: the header is
  // refused before a byte of it is taken.
  PackageWriter huge;
  huge.addHeader(kPartPackageHeader, sampleInfo());
  huge.addPartHeader(kPartNote, 0xFFFFFFFF);  // 4 GiB promised
  huge.addRaw(std::string(100, 'n'));
  MemorySource hugeSource(huge.bytes());
  PackageReader hugeReader(&hugeSource, true, nullptr);
  hugeReader.wantedTypes = {1, 23};
  hugeReader.nextPart();
  PackageInfo hugeInfo;
  EXPECT_FALSE(readPackageHeader(hugeInfo, hugeReader));
  EXPECT_EQ("", hugeInfo.note);
  EXPECT_EQ(0xFFFFFFFFu, hugeReader.partUnread());

  // Skipping such a part, by reading and by seeking, ends at type -1.
  for (bool digest : {true, false}) {
    MemorySource skipSource(writer.bytes());
    PackageReader skipping(&skipSource, digest, nullptr);
    skipping.wantedTypes = {1};
    EXPECT_EQ(1, skipping.nextPart());
    EXPECT_EQ(-1, skipping.nextPart());
    EXPECT_TRUE(skipping.fail());
  }
}

TEST(PackageReaderTest, ReadsStayInsideThePart) {
  PackageWriter writer;
  writer.addPart(kPartNote, "0123456789");
  writer.addPart(kPartArchitecture, "x86");
  MemorySource source(writer.bytes());
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {23, 16};
  reader.nextPart();
  char buffer[100];
  EXPECT_EQ(10, reader.readsome(buffer, sizeof buffer));
  EXPECT_EQ(std::char_traits<char>::eof(), reader.peek());
  reader.clear();
  EXPECT_EQ(std::char_traits<char>::eof(), reader.get());
  reader.clear();
  reader.seekg(0);
  reader.read(buffer, sizeof buffer);
  EXPECT_EQ(10, reader.gcount());
  EXPECT_EQ("0123456789", std::string(buffer, 10));
  EXPECT_TRUE(reader.fail());
  // The failed read marks the stream; the users check before moving on.
  EXPECT_EQ(-1, reader.nextPart());
}

TEST(PackageReaderTest, SeekWithinAPartOfASeekableSource) {
  TempDir dir;
  PackageWriter writer;
  writer.addPart(kPartSquashfsImage, "abcdefghij");
  writer.addPart(kPartNote, "klmno");
  // The reader counts offsets from where the source stands when it is made.
  ASSERT_TRUE(writeFile(dir.file("package"), "junk" + writer.bytes()));
  std::filebuf file;
  ASSERT_TRUE(file.open(dir.file("package"), std::ios_base::in | std::ios_base::binary));
  file.pubseekpos(4);
  PackageReader reader(&file, false, nullptr);
  reader.wantedTypes = {21, 23};
  ASSERT_EQ(21, reader.nextPart());
  EXPECT_EQ(14u, reader.partOffset());
  reader.seekg(7);
  EXPECT_EQ('h', reader.get());
  reader.seekg(-6, std::ios_base::cur);
  EXPECT_EQ('c', reader.get());
  reader.seekg(-1, std::ios_base::end);
  EXPECT_EQ('j', reader.get());
  EXPECT_EQ(10, static_cast<int>(reader.tellg()));
  reader.seekg(11);
  EXPECT_TRUE(reader.fail());
  reader.clear();
  reader.seekg(2);
  EXPECT_EQ(8u, reader.partUnread());
  ASSERT_EQ(23, reader.nextPart());
  EXPECT_EQ(30u, reader.partOffset());
  EXPECT_EQ("klmno", readAll(reader));
}

TEST(PackageReaderTest, DigestingReaderOnlyMovesForward) {
  PackageWriter writer;
  writer.addPart(kPartSquashfsImage, "abcdefghij");
  std::stringbuf copy;
  MemorySource source(writer.bytes());
  PackageReader reader(&source, false, &copy);
  reader.wantedTypes = {21};
  reader.nextPart();
  reader.seekg(4);
  EXPECT_EQ('e', reader.get());
  reader.seekg(1);
  EXPECT_TRUE(reader.fail());
  reader.clear();
  EXPECT_EQ(5, static_cast<int>(reader.tellg()));
  EXPECT_EQ(0, source.seeks);
  EXPECT_EQ(-1, reader.nextPart());
  EXPECT_EQ(writer.bytes(), copy.str());
}

TEST(PackageReaderTest, SkipsBySeekingOnlyWithoutDigestOrCopy) {
  PackageWriter writer;
  writer.addPart(77, std::string(40000, 'u'));
  writer.addPart(kPartNote, "wanted");
  for (int mode = 0; mode < 3; ++mode) {
    std::stringbuf copy;
    MemorySource source(writer.bytes());
    PackageReader reader(&source, mode == 1, mode == 2 ? &copy : nullptr);
    reader.wantedTypes = {23};
    ASSERT_EQ(23, reader.nextPart());
    EXPECT_EQ("wanted", readAll(reader));
    EXPECT_EQ(mode == 0 ? 1 : 0, source.seeks) << "mode " << mode;
  }
}

TEST(PackageReaderTest, SourcesThatCannotSeek) {
  PackageWriter writer;
  writer.addPart(77, std::string(100000, 'u'));
  writer.addPart(kPartSquashfsImage, "abcdefghij");
  writer.addPart(kPartNote, "wanted");
  MemorySource memory(writer.bytes(), false);
  PipeSource pipe(writer.bytes());
  std::streambuf* sources[] = {&memory, pipe.buffer()};
  for (std::streambuf* source : sources) {
    PackageReader reader(source, false, nullptr);
    reader.wantedTypes = {21, 23};
    ASSERT_EQ(21, reader.nextPart());
    EXPECT_EQ(100020u, reader.partOffset());
    reader.seekg(3);
    EXPECT_EQ('d', reader.get());
    reader.seekg(0);
    EXPECT_TRUE(reader.fail());
    reader.clear();
    ASSERT_EQ(23, reader.nextPart());
    EXPECT_EQ("wanted", readAll(reader));
    EXPECT_EQ(-1, reader.nextPart());
  }
}

TEST(PackageReaderTest, DigestCoversPartsFromTheLastPackageHeader) {
  for (bool sha256 : {false, true}) {
    PackageWriter writer;
    writer.addHeader(kPartBundleHeader, sampleInfo());  // before the restart
    if (sha256) writer.addSha256Marker();
    size_t covered = writer.bytes().size();
    writer.addDescription(sampleInfo());
    writer.addPart(77, "an unknown part");
    writer.addFileTree({FileTreeEntry{0100644, 0, "/bin/x", "data", {}}});
    writer.addPartHeader(kPartSignature, 68);
    size_t signature = writer.bytes().size();
    writer.addRaw(std::string(68, 's'));
    std::string file = writer.bytes();
    std::string expected = oneShot(sha256 ? EVP_sha256() : EVP_sha1(),
                                   file.substr(covered, signature - covered));

    PipeSource pipe(file);
    PackageReader reader(pipe.buffer(), true, nullptr);
    reader.wantedTypes = {1, 4, 9};
    ASSERT_EQ(1, reader.nextPart());
    PackageInfo info;
    ASSERT_TRUE(readPackageHeader(info, reader));
    ASSERT_EQ(4, reader.currentType());
    ASSERT_EQ(9, reader.nextPart());
    EXPECT_EQ(sha256, reader.digestIsSha256());
    EXPECT_EQ(expected, digestText(reader.finishDigest(), expected.size()));
    EXPECT_EQ(expected, digestText(reader.digest(), expected.size()));

    char signatureBytes[100];
    EXPECT_EQ(68u, reader.readUndigested(signatureBytes, sizeof signatureBytes));
    EXPECT_EQ(0u, reader.partUnread());
    EXPECT_EQ(-1, reader.nextPart());
  }
}

TEST(PackageReaderTest, PutBackBytesAreDigestedAndCopiedOnce) {
  PackageWriter writer;
  writer.addHeader(kPartPackageHeader, sampleInfo());
  writer.addPart(kPartNote, "abcdefgh");
  writer.addPartHeader(kPartSignature, 0);
  std::string file = writer.bytes();
  std::string expected = oneShot(EVP_sha1(), file.substr(8));

  std::stringbuf copy;
  MemorySource source(file);
  PackageReader reader(&source, true, &copy);
  reader.wantedTypes = {23, 9};
  ASSERT_EQ(23, reader.nextPart());
  EXPECT_FALSE(reader.unget());  // nothing to put back at the start
  reader.clear();
  EXPECT_EQ('a', reader.get());
  EXPECT_EQ('b', reader.get());
  EXPECT_TRUE(reader.unget());
  EXPECT_TRUE(reader.putback('a'));
  EXPECT_EQ(8u, reader.partUnread());
  char three[3];
  reader.read(three, 3);  // two re-read bytes and one new one
  EXPECT_EQ("abc", std::string(three, 3));
  EXPECT_EQ('d', reader.get());
  EXPECT_TRUE(reader.unget());
  EXPECT_EQ('d', reader.get());
  EXPECT_EQ('e', reader.get());
  EXPECT_TRUE(reader.unget());
  EXPECT_TRUE(reader.unget());
  reader.read(three, 1);  // fewer bytes than were put back
  EXPECT_EQ('d', three[0]);
  reader.read(three, 3);
  EXPECT_EQ("efg", std::string(three, 3));
  ASSERT_EQ(9, reader.nextPart());
  EXPECT_EQ(expected, digestText(reader.finishDigest(), 20));
  EXPECT_EQ(file, copy.str());
}

TEST(PackageReaderTest, EmptyWantedTypesRunToTheEnd) {
  PackageWriter writer;
  writer.addDescription(sampleInfo());
  writer.addPart(kPartFileContainer, "zzz");
  std::string file = writer.bytes();
  std::stringbuf copy;
  MemorySource source(file);
  PackageReader reader(&source, true, &copy);
  EXPECT_EQ(-1, reader.nextPart());
  EXPECT_EQ(file, copy.str());
  EXPECT_EQ(oneShot(EVP_sha1(), file.substr(8)), digestText(reader.digest(), 20));
}

}  // namespace

// The inflating part of the benchmark's floor: reads a package file with
// the package reader (digest off, nothing copied), and inflates every
// file-container part with zlib, or with ISA-L's igzip, into a scratch
// buffer that is thrown away. No hashing, no entry parsing, no files
// written: what is left is the cost that no installer can avoid besides
// hashing and writing the bytes.
//
//   inflate_floor PACKAGE          zlib inflate of each file container
//   inflate_floor --isal PACKAGE   igzip inflate of each file container
//                                  (a build that found ISA-L only)
//   inflate_floor --walk PACKAGE   the same through the installer's own
//                                  content walker (entry headers, paths,
//                                  data read in 16 KiB pieces) and the
//                                  build's own inflater
//
// Prints the compressed and inflated byte counts and the number of
// entries (with --walk) on standard output; exit status 1 when the file
// is not a package or holds no file container.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

#ifdef INSTALLER_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "package/content_stream.h"
#include "package/file_source.h"
#include "package/package_reader.h"

namespace {

const size_t kChunk = 65536;

struct Totals {
  uint64_t compressed = 0;
  uint64_t inflated = 0;
  uint64_t entries = 0;
};

// Inflates the current type-4 part of `reader`; false on corrupt data.
bool inflatePart(PackageReader& reader, Totals* totals) {
  static char input[kChunk];
  static char output[kChunk];
  z_stream zlib;
  memset(&zlib, 0, sizeof zlib);
  if (inflateInit(&zlib) != Z_OK) return false;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    reader.read(input, kChunk);
    std::streamsize got = reader.gcount();
    if (got <= 0) break;
    totals->compressed += static_cast<uint64_t>(got);
    zlib.next_in = reinterpret_cast<Bytef*>(input);
    zlib.avail_in = static_cast<uInt>(got);
    do {
      zlib.next_out = reinterpret_cast<Bytef*>(output);
      zlib.avail_out = kChunk;
      result = inflate(&zlib, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        inflateEnd(&zlib);
        return false;
      }
      totals->inflated += kChunk - zlib.avail_out;
    } while (zlib.avail_out == 0 && result != Z_STREAM_END);
  }
  reader.clear();
  inflateEnd(&zlib);
  return true;
}

#ifdef INSTALLER_HAVE_ISAL
// The same with igzip, which reads the zlib header and checks the adler32.
bool inflatePartIsal(PackageReader& reader, Totals* totals) {
  static char input[kChunk];
  static char output[kChunk];
  static inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_ZLIB;
  while (state.block_state != ISAL_BLOCK_FINISH) {
    reader.read(input, kChunk);
    std::streamsize got = reader.gcount();
    if (got <= 0) break;
    totals->compressed += static_cast<uint64_t>(got);
    state.next_in = reinterpret_cast<uint8_t*>(input);
    state.avail_in = static_cast<uint32_t>(got);
    do {
      state.next_out = reinterpret_cast<uint8_t*>(output);
      state.avail_out = kChunk;
      if (isal_inflate(&state) != ISAL_DECOMP_OK) return false;
      totals->inflated += kChunk - state.avail_out;
    } while (state.avail_out == 0 && state.block_state != ISAL_BLOCK_FINISH);
  }
  reader.clear();
  return true;
}
#endif

// Walks the current type-4 part with the installer's content walker,
// reading every extracted file's data the way the installer does.
bool walkPart(PackageReader& reader, Totals* totals) {
  static char piece[16384];
  ContentWalker walker(reader);
  ContentEntry entry;
  WalkStep step;
  while ((step = walker.next(&entry)) == WalkStep::kEntry) {
    ++totals->entries;
    if (!entry.extracted()) continue;
    while (walker.dataUnread() > 0) {
      size_t n = walker.dataUnread() < sizeof piece ? walker.dataUnread() : sizeof piece;
      if (!walker.readData(piece, n)) return false;
      totals->inflated += n;
    }
  }
  return step == WalkStep::kEnd;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc == 3 ? argv[1] : "";
  bool walk = mode == "--walk";
  bool isal = mode == "--isal";
  if (argc != 2 && !walk && !isal) {
    fprintf(stderr, "usage: inflate_floor [--walk | --isal] PACKAGE\n");
    return 2;
  }
#ifndef INSTALLER_HAVE_ISAL
  if (isal) {
    fprintf(stderr, "inflate_floor: this build has no ISA-L\n");
    return 2;
  }
#endif
  const char* path = argv[argc - 1];
  FileSource source;
  if (!source.open(path)) {
    perror(path);
    return 1;
  }
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {kPartFileContainer};
  Totals totals;
  int parts = 0;
  while (reader.nextPart() == kPartFileContainer) {
    ++parts;
    uint32_t length = reader.partLength();
    bool ok = false;
#ifdef INSTALLER_HAVE_ISAL
    if (isal) ok = inflatePartIsal(reader, &totals);
#endif
    if (!isal) ok = walk ? walkPart(reader, &totals) : inflatePart(reader, &totals);
    if (!ok) {
      fprintf(stderr, "%s: corrupt file container\n", path);
      return 1;
    }
    if (walk) totals.compressed += length;
  }
  if (parts == 0) {
    fprintf(stderr, "%s: no file container\n", path);
    return 1;
  }
  printf("compressed %llu inflated %llu entries %llu\n",
         static_cast<unsigned long long>(totals.compressed),
         static_cast<unsigned long long>(totals.inflated),
         static_cast<unsigned long long>(totals.entries));
  return 0;
}

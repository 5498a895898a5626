// The file-tree walk with inflating, as extraction makes it: every entry,
// the data of extracted ones read in pieces, the rest passed over. The
// first input byte chooses whether the rest is the compressed part as it
// stands or a tree to be compressed first, so that the walk past the
// inflater is reached as often as the inflater itself.
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "package/content_stream.h"
#include "package/package_reader.h"
#include "package/package_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  PackageWriter writer;
  writer.addPart(kPartFileContainer, (data[0] & 1) ? zlibCompress(rest) : rest);
  std::string file = writer.bytes();
  std::stringbuf source(file, std::ios::in);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {kPartFileContainer};
  if (reader.nextPart() != kPartFileContainer) return 0;
  {
    ContentWalker walker(reader);
    ContentEntry entry;
    char piece[16384];
    while (walker.next(&entry) == WalkStep::kEntry) {
      if (!entry.extracted()) continue;
      while (walker.dataUnread() > 0) {
        size_t n = std::min<size_t>(walker.dataUnread(), sizeof piece);
        if (!walker.readData(piece, n)) break;
      }
    }
  }
  reader.nextPart();
  return 0;
}

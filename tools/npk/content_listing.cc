#include "content_listing.h"

#include <stdio.h>

#include "package/content_stream.h"
#include "package/package_reader.h"
#include "pdb/package.h"

namespace {

// Link targets longer than this are shown cut.
const uint32_t kMaxTargetShown = 4096;

char typeLetter(uint16_t mode) {
  switch (mode & 0xF000) {
    case 0x8000:
      return '-';
    case 0x4000:
      return 'd';
    case 0xA000:
      return 'l';
    case 0x2000:
      return 'c';
    case 0x6000:
      return 'b';
    case 0x1000:
      return 'p';
    case 0xC000:
      return 's';
    default:
      return '?';
  }
}

// One rwx triple; `special` is the set-id or sticky bit of the triple.
void addTriple(std::string* text, unsigned bits, bool special, char specialLetter) {
  *text += (bits & 4) ? 'r' : '-';
  *text += (bits & 2) ? 'w' : '-';
  char execute = (bits & 1) ? 'x' : '-';
  if (special) execute = (bits & 1) ? specialLetter : char(specialLetter - 'a' + 'A');
  *text += execute;
}

std::string entryLine(const ContentEntry& entry, const std::string& target) {
  char numbers[64];
  snprintf(numbers, sizeof numbers, " %06o %10u %s ", unsigned(entry.mode), entry.dataLength,
           entry.skipByte != 0 ? "skip" : "-");
  std::string line = modeText(entry.mode) + numbers + entry.path;
  if ((entry.mode & 0xF000) == 0xA000) line += " -> " + target;
  return line + "\n";
}

// Lists the tree of the current type-4 part.
bool listTree(PackageReader& reader, std::ostream& out, std::string* error) {
  ContentWalker walker(reader);
  ContentEntry entry;
  for (;;) {
    WalkStep step = walker.next(&entry);
    if (step == WalkStep::kEnd) return true;
    if (step == WalkStep::kBroken) {
      *error = "the file tree is broken: an entry ends early";
      return false;
    }
    std::string target;
    if ((entry.mode & 0xF000) == 0xA000 && entry.dataLength <= kMaxTargetShown) {
      target.resize(entry.dataLength);
      if (!walker.readData(&target[0], target.size())) target = "?";
    }
    out << entryLine(entry, target);
  }
}

}  // namespace

std::string modeText(uint16_t mode) {
  std::string text(1, typeLetter(mode));
  addTriple(&text, (mode >> 6) & 7, mode & 04000, 's');
  addTriple(&text, (mode >> 3) & 7, mode & 02000, 's');
  addTriple(&text, mode & 7, mode & 01000, 't');
  return text;
}

bool listContents(std::streambuf* source, std::ostream& out, std::string* error) {
  PackageReader reader(source, false, nullptr);
  if (reader.fail()) {
    *error = "not a package file";
    return false;
  }
  reader.wantedTypes = {kPartBundleHeader, kPartPackageHeader, kPartFileContainer};
  bool bundle = false;
  for (int type = reader.nextPart(); type >= 0;) {
    if (type == kPartBundleHeader) {
      bundle = true;
      type = reader.nextPart();
    } else if (type == kPartPackageHeader) {
      PackageInfo header;
      if (!readPackageHeader(header, reader)) {
        *error = "a package header cannot be read";
        return false;
      }
      if (bundle) out << header.name << "-" << versionText(header.version) << ":\n";
      type = reader.currentType();
    } else {
      if (!listTree(reader, out, error)) return false;
      type = reader.nextPart();
    }
  }
  return true;
}

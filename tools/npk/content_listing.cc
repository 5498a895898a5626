#include "content_listing.h"

#include <stdio.h>

namespace {

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

// A link target too long to keep is shown as "?".
std::string linkTarget(const TreeEntry& entry) {
  return entry.data.size() == entry.size ? entry.data : std::string("?");
}

std::string entryLine(const TreeEntry& entry, bool digests) {
  char numbers[64];
  snprintf(numbers, sizeof numbers, " %06o %10u %s ", unsigned(entry.mode), entry.size,
           entry.skipByte != 0 ? "skip" : "-");
  std::string line = modeText(entry.mode) + numbers;
  if (digests) line += entry.sha256 + " ";
  line += entry.path;
  if (entry.isLink()) line += " -> " + linkTarget(entry);
  return line + "\n";
}

void addEntryJson(const TreeEntry& entry, bool digests, JsonWriter* json) {
  json->beginObject();
  json->key("path").value(entry.path);
  json->key("type").value(entryTypeName(entry.mode));
  json->key("mode").value(uint32_t(entry.mode));
  json->key("size").value(entry.size);
  json->key("skip").value(entry.skipByte != 0);
  if (entry.isLink()) json->key("target").value(linkTarget(entry));
  if (digests) json->key("sha256").value(entry.sha256);
  json->endObject();
}

}  // namespace

std::string modeText(uint16_t mode) {
  std::string text(1, typeLetter(mode));
  addTriple(&text, (mode >> 6) & 7, mode & 04000, 's');
  addTriple(&text, (mode >> 3) & 7, mode & 02000, 's');
  addTriple(&text, mode & 7, mode & 01000, 't');
  return text;
}

const char* entryTypeName(uint16_t mode) {
  switch (typeLetter(mode)) {
    case '-':
      return "file";
    case 'd':
      return "directory";
    case 'l':
      return "symlink";
    case 'c':
      return "char-device";
    case 'b':
      return "block-device";
    case 'p':
      return "fifo";
    case 's':
      return "socket";
    default:
      return "unknown";
  }
}

void printListing(const FileContents& contents, bool digests, std::ostream& out) {
  for (const PackageFiles& package : contents.packages) {
    if (contents.isBundle) out << contentLabel(package) << ":\n";
    for (const TreeEntry& entry : package.entries) out << entryLine(entry, digests);
  }
}

void addListingJson(const FileContents& contents, bool digests, JsonWriter* json) {
  json->key("bundle");
  if (contents.isBundle) {
    json->beginObject();
    json->key("name").value(contents.bundle.name);
    json->key("version").value(versionText(contents.bundle.version));
    json->endObject();
  } else {
    json->null();
  }
  json->key("packages").beginArray();
  for (const PackageFiles& package : contents.packages) {
    json->beginObject();
    json->key("name").value(package.header.name);
    json->key("version").value(versionText(package.header.version));
    json->key("entries").beginArray();
    for (const TreeEntry& entry : package.entries) addEntryJson(entry, digests, json);
    json->endArray();
    json->endObject();
  }
  json->endArray();
}

bool listContents(std::streambuf* source, bool digests, std::ostream& out, std::string* error) {
  FileContents contents;
  bool read = readFileContents(source, false, &contents, error);
  printListing(contents, digests, out);
  return read;
}

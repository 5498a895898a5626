#include "version_text.h"

#include <stdio.h>

namespace {

const uint32_t kNoKind = 0;
const uint32_t kFinalKind = 'f';
const uint32_t kByteLimit = 0xFF;
const uint32_t kPlainBuildLimit = 0xFFFF;
// Enough digits for any accepted number; longer runs are refused before
// they can overflow.
const size_t kMaxDigits = 5;

struct KindWord {
  const char* word;
  uint32_t kind;
};

const KindWord kKindWords[] = {{"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number of at most `limit` at `*at`, moving past it.
bool readNumber(const std::string& text, size_t* at, uint32_t limit, uint32_t* value) {
  size_t start = *at;
  uint32_t number = 0;
  while (*at < text.size() && isDigit(text[*at])) {
    if (*at - start >= kMaxDigits) return false;
    number = number * 10 + uint32_t(text[*at] - '0');
    ++*at;
  }
  if (*at == start || number > limit) return false;
  *value = number;
  return true;
}

// The whole rest of the text as a number, or 0 when nothing is left.
bool readOptionalBuild(const std::string& text, size_t at, uint32_t limit, uint32_t* build) {
  *build = 0;
  if (at == text.size()) return true;
  return readNumber(text, &at, limit, build) && at == text.size();
}

bool startsWithAt(const std::string& text, size_t at, const char* word) {
  return text.compare(at, std::string(word).size(), word) == 0;
}

// Kind and build from what follows "major.minor".
bool readSuffix(const std::string& text, size_t at, uint32_t* kind, uint32_t* build) {
  if (at == text.size()) {
    *kind = kNoKind;
    *build = 0;
    return true;
  }
  if (startsWithAt(text, at, "_ab")) {
    *kind = kNoKind;
    return at + 3 < text.size() && readOptionalBuild(text, at + 3, kPlainBuildLimit, build);
  }
  if (text[at] == '.') {
    *kind = kFinalKind;
    return at + 1 < text.size() && readOptionalBuild(text, at + 1, kByteLimit, build);
  }
  for (const KindWord& word : kKindWords) {
    if (!startsWithAt(text, at, word.word)) continue;
    *kind = word.kind;
    return readOptionalBuild(text, at + std::string(word.word).size(), kByteLimit, build);
  }
  return false;
}

bool parseHexVersion(const std::string& text, PackageVersion* version) {
  if (text.size() <= 2 || text.size() > 10) return false;
  uint32_t value = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    char c = text[i];
    uint32_t digit;
    if (isDigit(c)) {
      digit = uint32_t(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = uint32_t(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = uint32_t(c - 'A' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  *version = value;
  return true;
}

bool parseDottedVersion(const std::string& text, PackageVersion* version) {
  size_t at = 0;
  uint32_t major, minor, kind, build;
  if (!readNumber(text, &at, kByteLimit, &major)) return false;
  if (at >= text.size() || text[at] != '.') return false;
  ++at;
  if (!readNumber(text, &at, kByteLimit, &minor)) return false;
  if (!readSuffix(text, at, &kind, &build)) return false;
  *version = major << 24 | minor << 16 | kind << 8 | build;
  return true;
}

}  // namespace

bool parseVersionText(const std::string& text, PackageVersion* version, std::string* error) {
  bool hex = text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0;
  if (hex ? parseHexVersion(text, version) : parseDottedVersion(text, version)) return true;
  *error = "not a version: '" + text +
           "' (write it like 7.1, 7.1.5, 7.1rc2, 7.1beta3, 7.1alpha1, 7.1_ab5 or 0x07016302)";
  return false;
}

std::string versionSpelling(PackageVersion version) {
  std::string text = versionText(version);
  PackageVersion back = 0;
  std::string ignored;
  if (parseVersionText(text, &back, &ignored) && back == version) return text;
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08x", version);
  return hex;
}

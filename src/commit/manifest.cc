#include "commit/manifest.h"

#include <vector>

#include "commit/directories.h"

namespace {

// Splits at the first two blanks; the third field runs to the end.
std::vector<std::string> manifestFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() < 2) {
    size_t blank = line.find(' ', start);
    if (blank == std::string::npos) break;
    fields.push_back(line.substr(start, blank - start));
    start = blank + 1;
  }
  fields.push_back(line.substr(start));
  // An empty field carries no path: it counts as missing.
  while (!fields.empty() && fields.back().empty()) fields.pop_back();
  for (const std::string& field : fields) {
    if (field.empty()) return std::vector<std::string>();
  }
  return fields;
}

// Undoes the journal's escapes; false at a backslash not followed by three
// octal digits.
bool unescape(std::string* field) {
  std::string plain;
  for (size_t i = 0; i < field->size(); ++i) {
    char c = (*field)[i];
    if (c != '\\') {
      plain += c;
      continue;
    }
    if (i + 3 >= field->size()) return false;
    unsigned value = 0;
    for (size_t k = 1; k <= 3; ++k) {
      char digit = (*field)[i + k];
      if (digit < '0' || digit > '7') return false;
      value = value * 8 + static_cast<unsigned>(digit - '0');
    }
    if (value > 0xFF) return false;
    plain += static_cast<char>(value);
    i += 3;
  }
  *field = plain;
  return true;
}

// Escapes what would split or end a line, and the escape character.
std::string escaped(const std::string& field) {
  std::string text;
  for (char c : field) {
    if (c == ' ') {
      text += "\\040";
    } else if (c == '\n') {
      text += "\\012";
    } else if (c == '\\') {
      text += "\\134";
    } else {
      text += c;
    }
  }
  return text;
}

ManifestRead parseLine(const std::string& line, ChangeEntries* entries, bool escapedLines) {
  std::vector<std::string> fields = manifestFields(line);
  if (fields.size() < 2) return ManifestRead::Malformed;
  std::string letter = fields[0];
  if (escapedLines && (letter == "u" || letter == "l" || letter == "m")) {
    for (size_t i = 1; i < fields.size(); ++i) {
      if (!unescape(&fields[i])) return ManifestRead::Malformed;
    }
    letter[0] = static_cast<char>(letter[0] - 'a' + 'A');
  }
  if (letter == "U") {
    if (!isCarriedPath(fields[1])) return ManifestRead::Refused;
    entries->put(fields[1], ChangeAction{ChangeKind::Remove, std::string()});
  } else if (letter == "L" || letter == "M") {
    if (fields.size() < 3) return ManifestRead::Malformed;
    // A link's text is not a path the commit acts on; a move's source is.
    if (!isCarriedPath(fields[1]) || (letter == "M" && !isCarriedPath(fields[2]))) {
      return ManifestRead::Refused;
    }
    ChangeKind kind = letter == "L" ? ChangeKind::Symlink : ChangeKind::Move;
    entries->put(fields[1], ChangeAction{kind, fields[2]});
  }
  return ManifestRead::Complete;
}

}  // namespace

const std::string* uncarriablePath(const std::string& target, const ChangeAction& action) {
  if (target.find_first_of(" \n") != std::string::npos) return &target;
  if (action.source.find('\n') != std::string::npos) return &action.source;
  return nullptr;
}

std::string manifestLine(const std::string& target, const ChangeAction& action) {
  switch (action.kind) {
    case ChangeKind::Remove:
      return "U " + target + "\n";
    case ChangeKind::Symlink:
      return "L " + target + " " + action.source + "\n";
    case ChangeKind::Move:
    case ChangeKind::MoveStaged:
      break;
  }
  return "M " + target + " " + action.source + "\n";
}

namespace {

const size_t kPieceSize = 65536;

void appendLine(const std::string& target, const ChangeAction& action, std::string* text) {
  *text += action.kind == ChangeKind::Remove ? "U " : action.kind == ChangeKind::Symlink ? "L " : "M ";
  *text += target;
  if (action.kind != ChangeKind::Remove) {
    *text += ' ';
    *text += action.source;
  }
  *text += '\n';
}

void appendEscapedLine(const std::string& target, const ChangeAction& action, std::string* text) {
  *text += action.kind == ChangeKind::Remove ? "u " : action.kind == ChangeKind::Symlink ? "l " : "m ";
  *text += escaped(target);
  if (action.kind != ChangeKind::Remove) {
    *text += ' ';
    *text += escaped(action.source);
  }
  *text += '\n';
}

}  // namespace

bool ManifestPieces::next(std::string* piece) {
  piece->clear();
  if (next_ == entries_.end()) return false;
  piece->reserve(kPieceSize + 2 * kMaxManifestLine);
  for (; next_ != entries_.end() && piece->size() < kPieceSize; ++next_) {
    if (escape_ && uncarriablePath(next_->first, next_->second)) {
      appendEscapedLine(next_->first, next_->second, piece);
    } else {
      appendLine(next_->first, next_->second, piece);
    }
  }
  return true;
}

std::string manifestText(const ChangeEntries& entries) {
  // Sized first: a manifest of many files must not sit in memory twice
  // over while the text grows.
  size_t length = 0;
  for (const auto& entry : entries) {
    length += 2 + entry.first.size() + 1;
    if (entry.second.kind != ChangeKind::Remove) length += entry.second.source.size() + 1;
  }
  std::string text;
  text.reserve(length);
  for (const auto& entry : entries) appendLine(entry.first, entry.second, &text);
  return text;
}

ManifestRead parseManifest(const std::string& text, ChangeEntries* entries, std::string* badLine,
                           bool escapedLines) {
  // An escaped byte takes four.
  size_t longest = escapedLines ? 4 * kMaxManifestLine : kMaxManifestLine;
  size_t start = 0;
  while (start < text.size()) {
    size_t feed = text.find('\n', start);
    size_t end = feed == std::string::npos ? text.size() : feed;
    if (end - start > longest) return ManifestRead::Malformed;
    std::string line = text.substr(start, end - start);
    if (line.empty()) return ManifestRead::Complete;
    ManifestRead result = parseLine(line, entries, escapedLines);
    if (result == ManifestRead::Refused) *badLine = line;
    if (result != ManifestRead::Complete) return result;
    start = end + 1;
  }
  return ManifestRead::Complete;
}

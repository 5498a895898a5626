// The --show table. Columns are right-aligned to fixed widths; a longer
// field is printed whole and pushes the rest of its line to the right.
#include <inttypes.h>
#include <stdio.h>

#include <iostream>
#include <string>

#include "pdb/calendar.h"
#include "pdb/package_db.h"
#include "platform/nv.h"

namespace {

const size_t kNameWidth = 16;
const size_t kVersionWidth = 13;
const size_t kBuiltWidth = 20;
const size_t kNoteWidth = 40;
const size_t kRuleLength = 94;

// "Jan/01/1970 00:00:00" style, UTC.
std::string buildTimeText(uint32_t buildTime) {
  CalendarTime time = calendarTimeOf(buildTime);
  char text[64];
  snprintf(text, sizeof text, "%s/%02d/%04" PRId64 " %02d:%02d:%02d", monthAbbreviation(time.month),
           time.day, time.year, time.hour, time.minute, time.second);
  return text;
}

// Right-aligned in `width` columns, as a stream's setw pads: every byte of
// a longer field is kept.
void appendPadded(std::string* line, const std::string& field, size_t width) {
  if (field.size() < width) line->append(width - field.size(), ' ');
  line->append(field);
}

void appendHeader(std::string* text) {
  appendPadded(text, "Name", kNameWidth);
  text->append("    ");
  appendPadded(text, "Version", kVersionWidth);
  text->append(" ");
  appendPadded(text, "Built", kBuiltWidth);
  appendPadded(text, "Note", kNoteWidth);
  text->append("\n");
  text->append(kRuleLength, '-');
  text->append("\n");
}

void appendPackageLine(std::string* line, const Package& package) {
  appendPadded(line, package.name, kNameWidth);
  line->append(" ");
  line->append(package.disabled ? "X" : " ");
  line->append(package.bundle.name.empty() ? "  " : "B ");
  appendPadded(line, version2string(package.version), kVersionWidth);
  line->append(" ");
  appendPadded(line, buildTimeText(package.buildTime), kBuiltWidth);
  line->append(" ");
  appendPadded(line, package.note, kNoteWidth);
  line->append("\n");
}

}  // namespace

// Each line is made whole and written at once: a stream formatting field
// by field costs more than finding the records.
void PackageDb::printListing() const {
  std::string line;
  appendHeader(&line);
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  for (const Package* package : packages) {
    line.clear();
    appendPackageLine(&line, *package);
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  std::cout.flush();
}

// The --show table. Columns are right-aligned to fixed widths; a longer
// field is printed whole and pushes the rest of its line to the right.
#include <inttypes.h>
#include <stdio.h>

#include <iomanip>
#include <iostream>
#include <string>

#include "pdb/calendar.h"
#include "pdb/package_db.h"
#include "platform/nv.h"

namespace {

const int kNameWidth = 16;
const int kVersionWidth = 13;
const int kBuiltWidth = 20;
const int kNoteWidth = 40;
const size_t kRuleLength = 94;

// "Jan/01/1970 00:00:00" style, UTC.
std::string buildTimeText(uint32_t buildTime) {
  CalendarTime time = calendarTimeOf(buildTime);
  char text[64];
  snprintf(text, sizeof text, "%s/%02d/%04" PRId64 " %02d:%02d:%02d", monthAbbreviation(time.month),
           time.day, time.year, time.hour, time.minute, time.second);
  return text;
}

void printHeader(std::ostream& out) {
  out << std::setw(kNameWidth) << "Name" << "    " << std::setw(kVersionWidth) << "Version"
      << " " << std::setw(kBuiltWidth) << "Built" << std::setw(kNoteWidth) << "Note" << '\n';
  out << std::string(kRuleLength, '-') << '\n';
}

void printPackageLine(std::ostream& out, const Package& package) {
  out << std::setw(kNameWidth) << package.name << " " << std::setw(1)
      << (package.disabled ? "X" : " ") << std::setw(2)
      << (package.bundle.name.empty() ? "  " : "B ") << std::setw(kVersionWidth)
      << version2string(package.version) << " " << std::setw(kBuiltWidth)
      << buildTimeText(package.buildTime) << " " << std::setw(kNoteWidth) << package.note
      << '\n';
}

}  // namespace

void PackageDb::printListing() const {
  printHeader(std::cout);
  for (const Package* package : packages) printPackageLine(std::cout, *package);
  std::cout.flush();
}

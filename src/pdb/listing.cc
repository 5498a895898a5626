// The --show table. Columns are right-aligned to fixed widths; a longer
// field is printed whole and pushes the rest of its line to the right.
#include <time.h>

#include <iomanip>
#include <iostream>
#include <string>

#include "pdb/package_db.h"
#include "platform/nv.h"

namespace {

const int kNameWidth = 16;
const int kVersionWidth = 13;
const int kBuiltWidth = 20;
const int kNoteWidth = 40;
const size_t kRuleLength = 94;

// "Jan/01/1970 00:00:00" style, UTC; empty when the time cannot be converted.
std::string buildTimeText(uint32_t buildTime) {
  const time_t seconds = static_cast<time_t>(buildTime);
  struct tm calendar;
  if (gmtime_r(&seconds, &calendar) == nullptr) return std::string();
  char text[128];
  size_t length = strftime(text, sizeof text, "%b/%d/%Y %H:%M:%S", &calendar);
  return std::string(text, length);
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

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "pdb/package_db.h"

namespace {

// Redirects std::cout into a string for as long as it lives.
class CapturedOutput {
 public:
  CapturedOutput() : saved_(std::cout.rdbuf(text_.rdbuf())) {}
  ~CapturedOutput() { std::cout.rdbuf(saved_); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* saved_;
};

std::string blanks(size_t count) { return std::string(count, ' '); }

const std::string kHeader = blanks(12) + "Name" + "    " + blanks(6) + "Version" + " " +
                            blanks(15) + "Built" + blanks(36) + "Note" + "\n" +
                            std::string(94, '-') + "\n";

std::string listingOf(const PackageDb& db) {
  CapturedOutput captured;
  db.printListing();
  return captured.text();
}

Package* addPackage(PackageDb& db, const std::string& name, PackageVersion version,
                    uint32_t buildTime) {
  Package* package = new Package(name);
  package->version = version;
  package->buildTime = buildTime;
  db.packages.push_back(package);
  return package;
}

TEST(PackageListingTest, EmptyDatabasePrintsHeaderAndRuleOnly) {
  PackageDb db;
  EXPECT_EQ(kHeader, listingOf(db));
  EXPECT_EQ(94u + 1, kHeader.size() - kHeader.find('-'));
}

TEST(PackageListingTest, PrintsEveryRecordInLoadOrder) {
  PackageDb db;
  // 7.1.5, built at the first second of 1970, no note.
  addPackage(db, "dhcp", 0x07016605, 0);
  Package* member = addPackage(db, "wireless", 0x07016302, 1700000000);
  member->disabled = true;
  member->bundle = PackageRef("suite", 0x07010000, 0x07010000);
  member->note = "hello";
  addPackage(db, "suite", 0x07010000, 1700000000)->isBundle = true;
  Package* longName = addPackage(db, "averyveryverylongname", 0x0701000A, 86399);
  longName->note = std::string(41, 'n');

  const std::string expected =
      kHeader +
      // name, " ", mark, bundle mark, version, " ", built, " ", note
      blanks(12) + "dhcp" + " " + " " + "  " + blanks(8) + "7.1.5" + " " +
      "Jan/01/1970 00:00:00" + " " + blanks(40) + "\n" +
      blanks(8) + "wireless" + " " + "X" + "B " + blanks(7) + "7.1rc2" + " " +
      "Nov/14/2023 22:13:20" + " " + blanks(35) + "hello" + "\n" +
      blanks(11) + "suite" + " " + " " + "  " + blanks(10) + "7.1" + " " +
      "Nov/14/2023 22:13:20" + " " + blanks(40) + "\n" +
      "averyveryverylongname" + " " + " " + "  " + blanks(5) + "7.1_ab10" + " " +
      "Jan/01/1970 23:59:59" + " " + std::string(41, 'n') + "\n";
  EXPECT_EQ(expected, listingOf(db));
}

// A name or note from a package header may hold any byte: each is written
// whole, padded by its length in bytes.
TEST(PackageListingTest, FieldsAreWrittenByteForByte) {
  PackageDb db;
  Package* odd = addPackage(db, std::string("nul\0name", 8), 0x07010000, 0);
  odd->note = std::string("a\0b%s\n", 6);
  const std::string expected = kHeader + blanks(8) + std::string("nul\0name", 8) + " " + " " +
                               "  " + blanks(10) + "7.1" + " " + "Jan/01/1970 00:00:00" + " " +
                               blanks(34) + std::string("a\0b%s\n", 6) + "\n";
  EXPECT_EQ(expected, listingOf(db));
}

TEST(PackageListingTest, BuildTimesPastTheYear2038) {
  // Build times are unsigned 32-bit: they run to February 2106, far past
  // the end of a 32-bit time_t, which would show them before 1970.
  PackageDb db;
  addPackage(db, "late", 0x07010000, 2208988800u);
  addPackage(db, "last", 0x07010000, 0xFFFFFFFFu);
  addPackage(db, "edge", 0x07010000, 0x80000000u);
  const std::string text = listingOf(db);
  EXPECT_NE(std::string::npos, text.find(" Jan/01/2040 00:00:00 ")) << text;
  EXPECT_NE(std::string::npos, text.find(" Feb/07/2106 06:28:15 ")) << text;
  EXPECT_NE(std::string::npos, text.find(" Jan/19/2038 03:14:08 ")) << text;
}

}  // namespace

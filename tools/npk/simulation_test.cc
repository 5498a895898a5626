#include "simulation.h"

#include <stdio.h>

#include <gtest/gtest.h>

namespace {

// One line as the installer's listing prints it.
std::string line(const char* name, bool disabled, bool bundled, const char* version,
                 const char* built, const char* note) {
  char text[256];
  snprintf(text, sizeof text, "%16s %1s%2s%13s %20s %40s\n", name, disabled ? "X" : " ",
           bundled ? "B " : "  ", version, built, note);
  return text;
}

const char kHeader[] =
    "            Name         Version                Built                                    Note\n"
    "----------------------------------------------------------------------------------------------\n";

TEST(NpkSimulation, ReadsTheMarksAndVersionsOfTheListing) {
  std::string table = std::string(kHeader) +
                      line("system", false, false, "7.16", "Dec/01/2024 20:53:20", "") +
                      line("lte", true, true, "7.16", "Dec/01/2024 20:53:20", "modem") +
                      line("a-name-longer-than-16", false, true, "7.1rc2", "Jan/01/1970 00:00:00", "");
  std::map<std::string, ListedPackage> packages = parseListing(table);
  ASSERT_EQ(3u, packages.size());
  EXPECT_EQ("7.16", packages["system"].version);
  EXPECT_FALSE(packages["system"].disabled);
  EXPECT_TRUE(packages["lte"].disabled);
  EXPECT_TRUE(packages["lte"].bundled);
  EXPECT_EQ("Dec/01/2024 20:53:20", packages["lte"].built);
  EXPECT_FALSE(packages["a-name-longer-than-16"].disabled);
  EXPECT_TRUE(packages["a-name-longer-than-16"].bundled);
  EXPECT_EQ("7.1rc2", packages["a-name-longer-than-16"].version);
  EXPECT_TRUE(parseListing(kHeader).empty());
}

TEST(NpkSimulation, NamesEveryKindOfPackageChange) {
  auto listed = [](const char* version, bool disabled, const char* built = "b") {
    ListedPackage package;
    package.version = version;
    package.disabled = disabled;
    package.built = built;
    return package;
  };
  std::map<std::string, ListedPackage> before = {
      {"up", listed("7.1", false)},      {"down", listed("7.2", false)},
      {"same", listed("7.2", false)},    {"again", listed("7.2", false, "old")},
      {"off", listed("7.2", false)},     {"on", listed("7.2", true)},
      {"gone", listed("7.2", false)}};
  std::map<std::string, ListedPackage> after = {
      {"up", listed("7.2rc1", false)},   {"down", listed("7.1.5", false)},
      {"same", listed("7.2", false)},    {"again", listed("7.2", false, "new")},
      {"off", listed("7.2", true)},      {"on", listed("7.2", false)},
      {"new", listed("1.0", true)}};
  std::string text;
  for (const PackageChange& change : packageChanges(before, after)) {
    text += change.change + " " + change.name + " " + change.from + ">" + change.to + "\n";
  }
  EXPECT_EQ(
      "reinstalled again 7.2>7.2\n"
      "downgraded down 7.2>7.1.5\n"
      "removed gone 7.2>\n"
      "disabled off 7.2>7.2\n"
      "enabled on 7.2>7.2\n"
      "upgraded up 7.1>7.2rc1\n"
      "installed new >1.0\n"
      "disabled new >1.0\n",
      text);
}

}  // namespace

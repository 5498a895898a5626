#include "resolve/admission.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdb/device_mode.h"
#include "pdb/package_db.h"
#include "platform/nv.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace {

using Messages = std::vector<std::string>;

PackageVersion version(unsigned major, unsigned minor) { return major << 24 | minor << 16; }

class AdmissionTest : public testing::Test {
 protected:
  void SetUp() override {
    savedFlaggedState_ = flaggedState;
    flaggedState = false;
    nv::setSettingsForTest(nv::Settings());
    db_.architecture = "arm";
  }
  void TearDown() override {
    flaggedState = savedFlaggedState_;
    nv::setSettingsForTest(nv::Settings());
  }

  // An installed package; the database owns it.
  Package* install(const std::string& name, PackageVersion packageVersion, uint32_t buildTime = 100) {
    Package* package = new Package(name);
    package->version = packageVersion;
    package->buildTime = buildTime;
    db_.packages.push_back(package);
    return package;
  }

  // Runs the check and keeps only the messages it printed.
  AdmissionFlags check(const PackageInfo& candidate, uint32_t allowances = 0) {
    db_.messages.clear();
    testing::internal::CaptureStdout();
    AdmissionFlags flags = checkAdmission(db_, candidate, allowances);
    std::string printed = testing::internal::GetCapturedStdout();
    std::string expected;
    for (const std::string& line : db_.messages) expected += line + "\n";
    EXPECT_EQ(expected, printed);
    return flags;
  }

  static Package candidate(const std::string& name, PackageVersion packageVersion,
                           uint32_t buildTime = 100) {
    Package record(name);
    record.version = packageVersion;
    record.buildTime = buildTime;
    record.architecture = "arm";
    return record;
  }

  PackageDb db_;

 private:
  bool savedFlaggedState_ = false;
};

TEST_F(AdmissionTest, NewerCandidateIsAdmittedSilently) {
  install("foo", version(1, 2));
  EXPECT_EQ(0u, check(candidate("foo", version(1, 3))));
  EXPECT_EQ(0u, check(candidate("foo", version(1, 2), 101)));
  EXPECT_EQ(0u, check(candidate("bar", version(0, 1))));
  EXPECT_EQ(Messages(), db_.messages);
}

TEST_F(AdmissionTest, SameAsInstalledWarnsUnlessReinstallAllowed) {
  install("foo", version(1, 2));
  EXPECT_EQ(SameAsInstalled, check(candidate("foo", version(1, 2))));
  EXPECT_EQ(Messages{"WARNING: omitting package foo-1.2: it is already installed"}, db_.messages);

  EXPECT_EQ(SameAsInstalled, check(candidate("foo", version(1, 2)), AllowReinstall));
  EXPECT_EQ(Messages(), db_.messages);
}

TEST_F(AdmissionTest, OlderThanInstalledWarnsUnlessDowngradeAllowed) {
  install("foo", version(1, 3));
  EXPECT_EQ(OlderThanInstalled, check(candidate("foo", version(1, 2))));
  EXPECT_EQ(Messages{"WARNING: omitting package foo-1.2: newer package foo-1.3 is already installed"},
            db_.messages);

  EXPECT_EQ(OlderThanInstalled, check(candidate("foo", version(1, 2)), AllowDowngrade));
  EXPECT_EQ(Messages(), db_.messages);

  // Same version, earlier build: still older.
  EXPECT_EQ(OlderThanInstalled, check(candidate("foo", version(1, 3), 99)));
  EXPECT_EQ(Messages{"WARNING: omitting package foo-1.3: newer package foo-1.3 is already installed"},
            db_.messages);
}

TEST_F(AdmissionTest, OnlyTheFirstInstalledPackageOfTheNameCounts) {
  install("foo", version(1, 0));
  install("foo", version(2, 0));
  EXPECT_EQ(0u, check(candidate("foo", version(1, 5))));
}

TEST_F(AdmissionTest, InstalledBrandingIsNeverComparedByVersion) {
  install("branding", version(2, 0), 500);
  flaggedState = true;
  EXPECT_EQ(0u, check(candidate("branding", version(1, 0), 100)));
  EXPECT_EQ(0u, check(candidate("branding", version(2, 0), 500)));
  EXPECT_EQ(Messages(), db_.messages);
}

TEST_F(AdmissionTest, FlaggedStateRefusesAnOlderBuildEvenWithANewerVersion) {
  install("foo", version(1, 0), 200);
  Package newerVersionOlderBuild = candidate("foo", version(1, 1), 100);
  newerVersionOlderBuild.depends.push_back(PackageRef("missing", 0, 0));

  EXPECT_EQ(RequirementUnmet, check(newerVersionOlderBuild));
  EXPECT_EQ(Messages{"ERROR: can not install foo-1.1: missing is not installed, but is required"},
            db_.messages);

  flaggedState = true;
  EXPECT_EQ(RequirementUnmet | ConflictFound, check(newerVersionOlderBuild));
  EXPECT_EQ(Messages{"WARNING: cannot install older foo-1.1: router in flagged state"}, db_.messages);

  // No allowance silences it; a lower version adds its own flag silently.
  EXPECT_EQ(OlderThanInstalled | RequirementUnmet | ConflictFound,
            check(candidate("foo", version(0, 9), 100), 0xFFFFFFFFu));
  EXPECT_EQ(Messages{"WARNING: cannot install older foo-0.9: router in flagged state"}, db_.messages);

  // A build of the same time is not older.
  EXPECT_EQ(SameAsInstalled, check(candidate("foo", version(1, 0), 200), AllowReinstall));
  EXPECT_EQ(Messages(), db_.messages);
}

TEST_F(AdmissionTest, FlaggedStateNeedsAnInstalledPackageOfTheName) {
  flaggedState = true;
  install("bar", version(1, 0), 900);
  EXPECT_EQ(0u, check(candidate("foo", version(1, 0), 1)));
}

TEST_F(AdmissionTest, SystemPackagesMustMeetTheMinimumVersion) {
  nv::Settings settings;
  settings.minVersion = version(7, 0);
  nv::setSettingsForTest(settings);

  for (const char* name : {"system", "kestavin", "kestavinfoo", "kestavin-wireless"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RequirementUnmet, check(candidate(name, version(6, 9))));
    EXPECT_EQ(Messages{"ERROR: omitting package " + std::string(name) +
                       "-6.9: min Kestavin version is 7.0"},
              db_.messages);
    EXPECT_EQ(RequirementUnmet, check(candidate(name, version(6, 9)), AllowUnmet));
    EXPECT_EQ(Messages(), db_.messages);
    EXPECT_EQ(0u, check(candidate(name, version(7, 0))));
  }
  // Shorter than the prefix, a prefix elsewhere, another case: no minimum.
  for (const char* name : {"kestavi", "sys", "systemx", "Kestavinfoo", "xkestavin", "System"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(0u, check(candidate(name, version(1, 0))));
  }
}

TEST_F(AdmissionTest, ForeignArchitectureIsAnUnmetRequirement) {
  // A header without an architecture part reads as "i386".
  Package defaultArchitecture = candidate("foo", version(1, 0));
  defaultArchitecture.architecture = "i386";
  EXPECT_EQ(RequirementUnmet, check(defaultArchitecture));
  EXPECT_EQ(Messages{"ERROR: can not install foo-1.0: it is not made for arm, but for i386"},
            db_.messages);
  EXPECT_EQ(RequirementUnmet, check(defaultArchitecture, AllowUnmet));
  EXPECT_EQ(Messages(), db_.messages);

  db_.architecture = "i386";
  EXPECT_EQ(0u, check(defaultArchitecture));

  Package noArchitecture = candidate("foo", version(1, 0));
  noArchitecture.architecture.clear();
  EXPECT_EQ(0u, check(noArchitecture));
}

TEST_F(AdmissionTest, OnlyTheFirstMissingDependencyIsNamed) {
  install("present", version(1, 0));
  Package needy = candidate("foo", version(1, 0));
  needy.depends = {PackageRef("present", 0, 0), PackageRef("first", version(2, 1), 0),
                   PackageRef("second", 0, 0)};
  EXPECT_EQ(RequirementUnmet, check(needy));
  EXPECT_EQ(Messages{"ERROR: can not install foo-1.0: first-2.1 is not installed, but is required"},
            db_.messages);
  EXPECT_EQ(RequirementUnmet, check(needy, AllowUnmet));
  EXPECT_EQ(Messages(), db_.messages);

  needy.depends = {PackageRef("unversioned", 0, version(9, 0))};
  EXPECT_EQ(RequirementUnmet, check(needy));
  EXPECT_EQ(Messages{"ERROR: can not install foo-1.0: unversioned is not installed, but is required"},
            db_.messages);

  // An installed version outside the range does not count.
  needy.depends = {PackageRef("present", version(1, 1), 0)};
  EXPECT_EQ(RequirementUnmet, check(needy));
}

TEST_F(AdmissionTest, DependencyMetByDisabledOrProvidingPackage) {
  install("disabledlib", version(1, 0))->disabled = true;
  Package* provider = install("impl", version(3, 0));
  provider->provides.push_back(PackageRef("api", version(1, 0), version(2, 0)));
  Package needy = candidate("foo", version(1, 0));
  needy.depends = {PackageRef("disabledlib", 0, 0), PackageRef("api", version(2, 0), 0)};
  EXPECT_EQ(0u, check(needy));
  EXPECT_EQ(Messages(), db_.messages);

  // A placeholder record (all ones) provides nothing.
  install("ghost", 0xFFFFFFFFu, 0xFFFFFFFFu);
  needy.depends = {PackageRef("ghost", 0, 0)};
  EXPECT_EQ(RequirementUnmet, check(needy, AllowUnmet));
}

TEST_F(AdmissionTest, ConflictWithAnEnabledInstalledPackage) {
  Package* blocker = install("blocker", version(1, 0));
  blocker->conflicts.push_back(PackageRef("foo", 0, 0));
  EXPECT_EQ(ConflictFound, check(candidate("foo", version(1, 0))));
  EXPECT_EQ(Messages{"ERROR: can not install foo-1.0: it conflicts with blocker-1.0"}, db_.messages);
  EXPECT_EQ(ConflictFound, check(candidate("foo", version(1, 0)), AllowConflict));
  EXPECT_EQ(Messages(), db_.messages);

  blocker->disabled = true;
  EXPECT_EQ(0u, check(candidate("foo", version(1, 0))));
  EXPECT_EQ(Messages(), db_.messages);
}

TEST_F(AdmissionTest, ACandidatesOwnConflictListIsNotConsulted) {
  install("bar", version(1, 0));
  Package rude = candidate("foo", version(1, 0));
  rude.conflicts.push_back(PackageRef("bar", 0, 0));
  EXPECT_EQ(0u, check(rude));
}

TEST_F(AdmissionTest, FirstUnsilencedMessageWinsAndEveryFlagIsKept) {
  nv::Settings settings;
  settings.minVersion = version(7, 0);
  nv::setSettingsForTest(settings);
  install("kestavinx", version(6, 5));
  install("blocker", version(1, 0))->conflicts.push_back(PackageRef("kestavinx", 0, 0));
  Package everything = candidate("kestavinx", version(6, 0));
  everything.architecture = "mips";
  everything.depends.push_back(PackageRef("missing", 0, 0));
  const AdmissionFlags all = OlderThanInstalled | RequirementUnmet | ConflictFound;

  struct Case {
    uint32_t allowances;
    const char* message;
  } cases[] = {
      {0, "WARNING: omitting package kestavinx-6.0: newer package kestavinx-6.5 is already installed"},
      {AllowDowngrade, "ERROR: omitting package kestavinx-6.0: min Kestavin version is 7.0"},
      {AllowDowngrade | AllowUnmet, "ERROR: can not install kestavinx-6.0: it conflicts with blocker-1.0"},
      // Bits that are no allowance silence nothing.
      {0x01 | 0x04 | 0x40 | 0x80000000u,
       "WARNING: omitting package kestavinx-6.0: newer package kestavinx-6.5 is already installed"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.allowances);
    EXPECT_EQ(all, check(everything, each.allowances));
    EXPECT_EQ(Messages{each.message}, db_.messages);
  }

  // Architecture and dependency messages follow in their turn.
  settings.minVersion = 0;
  nv::setSettingsForTest(settings);
  EXPECT_EQ(all, check(everything, AllowDowngrade));
  EXPECT_EQ(Messages{"ERROR: can not install kestavinx-6.0: it is not made for arm, but for mips"},
            db_.messages);
  everything.architecture = "arm";
  EXPECT_EQ(all, check(everything, AllowDowngrade));
  EXPECT_EQ(Messages{"ERROR: can not install kestavinx-6.0: missing is not installed, but is required"},
            db_.messages);
}

TEST_F(AdmissionTest, AllOnesAllowancesSilenceEveryConsultingMessage) {
  install("foo", version(2, 0));
  install("blocker", version(1, 0))->conflicts.push_back(PackageRef("foo", 0, 0));
  Package everything = candidate("foo", version(1, 0));
  everything.architecture = "mips";
  everything.depends.push_back(PackageRef("missing", 0, 0));
  EXPECT_EQ(OlderThanInstalled | RequirementUnmet | ConflictFound, check(everything, 0xFFFFFFFFu));
  EXPECT_EQ(Messages(), db_.messages);

  EXPECT_EQ(SameAsInstalled | ConflictFound, check(candidate("foo", version(2, 0)), 0xFFFFFFFFu));
  EXPECT_EQ(Messages(), db_.messages);
}

// Device-mode decisions look for "/ram/SECURE", so they run in a scratch
// root. The child reports the flags and the messages.
class AdmissionDeviceModeTest : public AdmissionTest {
 protected:
  void SetUp() override {
    AdmissionTest::SetUp();
    if (!testing_support::canChroot()) GTEST_SKIP() << "needs root";
    // Only system builds of 7.x made between times 1000 and 2000.
    nv::Settings settings;
    settings.safeRanges.push_back({version(7, 0), version(7, 255), 1000, 2000, 0});
    nv::setSettingsForTest(settings);
  }

  std::string checkInRoot(const PackageInfo& record, uint32_t allowances, bool secure) {
    testing_support::TempDir root;
    if (secure) testing_support::writeFile(root.file("ram/SECURE"), "");
    testing_support::RootRun run = testing_support::runInRoot(root.path(), [&] {
      AdmissionFlags flags = checkAdmission(db_, record, allowances);
      std::string report = std::to_string(flags);
      for (const std::string& line : db_.messages) report += "|" + line;
      return report;
    });
    EXPECT_EQ(0, run.status) << run.errors;
    return run.value;
  }
};

TEST_F(AdmissionDeviceModeTest, ForbiddenBuildIsRefusedWithoutTheSecureMarker) {
  const std::string refusal = "ERROR: will not install package system-7.1, not allowed by device-mode";
  Package outsideTimes = candidate("system", version(7, 1), 2001);
  EXPECT_EQ("24|" + refusal, checkInRoot(outsideTimes, 0, false));
  EXPECT_EQ("24|" + refusal, checkInRoot(outsideTimes, 0xFFFFFFFFu, false));
  EXPECT_EQ("0", checkInRoot(outsideTimes, 0, true));

  Package allowed = candidate("system", version(7, 1), 2000);
  EXPECT_EQ("0", checkInRoot(allowed, 0, false));
  // Device mode restricts only "system".
  EXPECT_EQ("0", checkInRoot(candidate("systemx", version(1, 0), 1), 0, false));
}

TEST_F(AdmissionDeviceModeTest, RefusalIsFlaggedEvenWhenAnEarlierMessageWasShown) {
  Package* installed = install("system", version(7, 1), 2001);
  EXPECT_EQ("56|WARNING: omitting package system-7.1: it is already installed",
            checkInRoot(candidate("system", version(7, 1), 2001), 0, false));

  flaggedState = true;
  installed->buildTime = 3000;
  EXPECT_EQ("26|WARNING: cannot install older system-7.1: router in flagged state",
            checkInRoot(candidate("system", version(7, 1), 2001), 0xFFFFFFFFu, false));
}

}  // namespace

// End-to-end checks of the command line: argument reading, the usage line,
// the board and root handling and the show mode, on temporary router roots.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/router_root.h"

namespace testing_support {
namespace {

const char kUsageLine[] = "usage: installer [-q] [-r <root>] [-]\n";
const std::string kListingHead =
    "            Name          Version                Built                                    Note\n" +
    std::string(94, '-') + "\n";

ProgramRun runPlain(std::vector<std::string> arguments, ProgramOptions options = {}) {
  options.arguments = arguments;
  return runProgram(installerBinary(), options);
}

TEST(CommandLine, UnknownOrIncompleteArgumentsPrintUsageAndChangeNothing) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"}, {"-r"}, {"--month"}, {"--show", "-x", "--commit"}}) {
    ProgramRun run = runPlain(args);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(kUsageLine, run.output);
    EXPECT_EQ("", run.errors);
  }
}

TEST(CommandLine, QemuBoardDoesNothing) {
  RouterRoot root;
  ProgramOptions options;
  options.environment["board"] = "qemu_p9";
  ProgramRun run = root.runInstaller({"--show"}, options);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.output);
  options.environment["board"] = "qemu_p9x";
  EXPECT_EQ(kListingHead, root.runInstaller({"--show"}, options).output);
}

TEST(CommandLine, UnenterableRootStopsTheRun) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
  ProgramRun run = runPlain({"-r", "/nonexistent/router-root", "--show"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.output);
  EXPECT_EQ("chroot: No such file or directory\n", run.errors);
}

TEST(CommandLine, ShowListsTheDatabaseOfTheRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
  RouterRoot root;
  root.write("/flash/var/pdb/routing/version", "117506048 0\n");  // 7.1 final
  root.write("/flash/var/pdb/routing/files", "/flash/lib/routing.so\n");
  root.write("/flash/var/pdb/routing/disabled", "user\n");
  ProgramRun run = root.runInstaller({"-q", "--show"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(kListingHead +
                "         routing X            7.1 Jan/01/1970 00:00:00                                         \n",
            run.output);
}

TEST(CommandLine, ReinstallAnnouncesItselfAtOnceAndShowWins) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
  RouterRoot root;
  ProgramRun run = root.runInstaller({"--reinstall", "--show", "-b", "--force", "--month", "5"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("\nResuming upgrade...\n" + kListingHead, run.output);
}

TEST(CommandLine, MissingDatabaseWarnsAndListsNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
  RouterRoot root;
  rmdir(root.host("/flash/var/pdb").c_str());
  ProgramRun run = root.runInstaller({"--show"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("WARNING: could not open repo\n" + kListingHead, run.output);
}

}  // namespace
}  // namespace testing_support

// End-to-end checks of --commit and --cancel: the real installer runs
// chrooted into a temporary router root (these modes ignore "-r"), with the
// system libraries bind-mounted read-only into it in a private mount
// namespace that disappears with the child.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/scoped_tmpfs.h"
#include "support/router_root.h"

namespace testing_support {
namespace {

std::string linkText(const std::string& path) {
  char text[256];
  ssize_t length = readlink(path.c_str(), text, sizeof text);
  return length < 0 ? "<none>" : std::string(text, static_cast<size_t>(length));
}

TEST(CommitMode, AppliesTheManifestAndLeavesIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot and mounts";
  RouterRoot root;
  // "/ram" is a file system of its own, as on the router.
  ScopedTmpfs ram(root.host("/ram"), "1m");
  ASSERT_TRUE(ram.mounted());
  root.write("/flash/old", "old");
  root.write("/flash/lib/dir/a.so", "a");
  root.write("/flash/lib/dir/b.so", "b");
  root.write("/ram/tmpAAAAAA", "tool content");
  root.write("/flash/var/pdb/pkg/tmpBBBBBB", "117506048 0\n");
  const std::string manifest =
      "U /flash/lib/dir\n"
      "M /flash/bin/tool /ram/tmpAAAAAA\n"
      "U /flash/old\n"
      "L /flash/var/pdb/pkg/image /flash/bootimage\n"
      "M /flash/var/pdb/pkg/version /flash/var/pdb/pkg/tmpBBBBBB\n";
  root.write("/ram/MANIFEST", manifest);

  ProgramRun run = root.runInstallerInside({"--commit"});
  EXPECT_EQ(0, run.status);
  // One block copied from "/ram" to flash turns the spinner once.
  EXPECT_EQ("finishing install... |\b \n", run.output);
  EXPECT_EQ("", run.errors);
  EXPECT_FALSE(root.exists("/flash/old"));
  EXPECT_FALSE(root.exists("/flash/lib/dir"));
  EXPECT_EQ("tool content", root.read("/flash/bin/tool"));
  EXPECT_EQ("tool content", root.read("/ram/tmpAAAAAA"));  // a copy leaves its source
  EXPECT_EQ("117506048 0\n", root.read("/flash/var/pdb/pkg/version"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/pkg/tmpBBBBBB"));
  EXPECT_EQ("/flash/bootimage", linkText(root.host("/flash/var/pdb/pkg/image")));
  EXPECT_EQ(manifest, root.read("/ram/MANIFEST"));
}

TEST(CommitMode, WithoutManifestChangesNothingEvenWhenQuiet) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot and mounts";
  RouterRoot root;
  root.write("/flash/keep", "keep");
  std::string before = root.snapshot("/flash") + root.snapshot("/ram");
  ProgramRun run = root.runInstallerInside({"-q", "--commit", "--show"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("finishing install... \b \n", run.output);
  EXPECT_EQ("", run.errors);
  EXPECT_EQ(before, root.snapshot("/flash") + root.snapshot("/ram"));
}

TEST(CommitMode, AMissingStagedFileIsReportedAndNothingApplied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot and mounts";
  RouterRoot root;
  root.write("/flash/b.new", "b");
  std::string manifest = "M /flash/a /ram/tmpGONE00\nM /flash/b /flash/b.new\nX ignored line\n";
  root.write("/ram/MANIFEST", manifest);
  ProgramRun run = root.runInstallerInside({"--commit"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("rename: No such file or directory\n", run.errors);
  // Half of a change set is no installation: nothing is applied.
  EXPECT_FALSE(root.exists("/flash/b"));
  EXPECT_EQ("b", root.read("/flash/b.new"));
  EXPECT_EQ(manifest, root.read("/ram/MANIFEST"));
}

TEST(CancelMode, DeletesTheManifestOnly) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot and mounts";
  RouterRoot root;
  root.write("/ram/tmpAAAAAA", "staged");
  root.write("/flash/old", "old");
  root.write("/ram/MANIFEST", "M /flash/new /ram/tmpAAAAAA\nU /flash/old\n");
  ProgramRun run = root.runInstallerInside({"--cancel"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.output);
  EXPECT_EQ("", run.errors);
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_EQ("staged", root.read("/ram/tmpAAAAAA"));
  EXPECT_EQ("old", root.read("/flash/old"));
  EXPECT_FALSE(root.exists("/flash/new"));

  // Nothing to cancel: still status 0.
  run = root.runInstallerInside({"--cancel"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.output);
}

}  // namespace
}  // namespace testing_support

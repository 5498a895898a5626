#include <gtest/gtest.h>

#include "pdb/package_db.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace testing_support {
namespace {

const std::string kReserve(4096, '\0');

struct LogRun {
  std::string messages;  // the database's messages after the body, joined by "|"
  std::string log;       // the log file after the run
};

// Runs `body` on a fresh database inside `root`.
LogRun runWithLog(const TempDir& root, const std::function<void(PackageDb&)>& body) {
  RootRun run = runInRoot(root.path(), [&] {
    PackageDb db;
    body(db);
    std::string joined;
    for (const std::string& line : db.messages) joined += line + "|";
    return joined;
  });
  EXPECT_EQ(0, run.status) << run.errors;
  return LogRun{run.value, readFile(root.file("/flash/postlog"))};
}

class Postlog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canChroot()) GTEST_SKIP() << "needs root for chroot";
    makeDirs(root.file("/flash"));
  }
  TempDir root;
};

TEST_F(Postlog, RunWithoutLoadAppendsOnlyWhenThereAreMessages) {
  writeFile(root.file("/flash/postlog"), "old\n");
  EXPECT_EQ("old\n", runWithLog(root, [](PackageDb& db) { db.writePostlog(); }).log);
  EXPECT_EQ("old\nnew one\n", runWithLog(root, [](PackageDb& db) {
              db.messages.push_back("new one");
              db.writePostlog();
            }).log);
}

TEST_F(Postlog, LoadPutsOldLinesBetweenEarlierAndLaterMessages) {
  writeFile(root.file("/flash/postlog"), "first\nsecond\ncut");
  LogRun run = runWithLog(root, [](PackageDb& db) {
    db.messages.push_back("before load");
    db.loadPostlog();
    db.messages.push_back("after load");
    db.writePostlog();
  });
  EXPECT_EQ("before load|first|second|after load|", run.messages);
  EXPECT_EQ("before load\nfirst\nsecond\nafter load\n", run.log);
  // A quiet run records nothing: the log is rewritten with its old lines.
  run = runWithLog(root, [](PackageDb& db) {
    db.loadPostlog();
    db.writePostlog();
  });
  EXPECT_EQ("before load\nfirst\nsecond\nafter load\n", run.log);
}

TEST_F(Postlog, RunStoppedAfterLoadLosesNothing) {
  writeFile(root.file("/flash/postlog"), "kept\n");
  EXPECT_EQ("kept\n" + kReserve, runWithLog(root, [](PackageDb& db) { db.loadPostlog(); }).log);
  LogRun run = runWithLog(root, [](PackageDb& db) {
    db.loadPostlog();
    db.messages.push_back("later");
    db.writePostlog();
  });
  EXPECT_EQ("kept|later|", run.messages);
  EXPECT_EQ("kept\nlater\n", run.log);
}

TEST_F(Postlog, ReserveAloneLoadsAsNothing) {
  writeFile(root.file("/flash/postlog"), kReserve);
  LogRun run = runWithLog(root, [](PackageDb& db) {
    db.loadPostlog();
    db.writePostlog();
  });
  EXPECT_EQ("", run.messages);
  EXPECT_EQ("", run.log);
}

}  // namespace
}  // namespace testing_support

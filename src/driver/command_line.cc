#include "driver/command_line.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "commit/change_set.h"
#include "commit/durable_commit.h"
#include "commit/journal.h"
#include "driver/commit_mode.h"
#include "driver/install_run.h"
#include "driver/stream_install.h"
#include "pdb/install_options.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"

namespace {

const char kUsage[] = "usage: installer [-q] [-r <root>] [-]";
const char kDefaultArchitecture[] = "i386";

enum class ArgumentsResult { Run, Exit };

ArgumentsResult printUsage() {
  printf("%s\n", kUsage);
  fflush(stdout);
  return ArgumentsResult::Exit;
}

// Applies one argument; `next` is the argument after it (or null) and
// `used` is set when the argument consumed it. Stream mode ends the reading.
ArgumentsResult applyArgument(const std::string& arg, const char* next, bool* used,
                              RunSettings* settings) {
  if (arg == "--safe") {
    settings->applyNow = false;
  } else if (arg == "-r" || arg == "--month") {
    if (next == nullptr) return printUsage();
    if (arg == "-r") settings->rootDirectory = next;
    *used = true;
  } else if (arg == "-q") {
    settings->quiet = true;
  } else if (arg == "-down") {
    settings->installOptions |= AllowDowngrade;
  } else if (arg == "--reinstall") {
    printf("\nResuming upgrade...\n");
    fflush(stdout);
    settings->installOptions |= AllowReinstall;
  } else if (arg == "-b" || arg == "--force" || arg == "--noupgrade" || arg == "-i") {
  } else if (arg == "--commit") {
    settings->exitStatus = runCommitMode();
    return ArgumentsResult::Exit;
  } else if (arg == "--cancel") {
    runCancelMode();
    return ArgumentsResult::Exit;
  } else if (arg == "--show") {
    settings->show = true;
  } else {
    return printUsage();
  }
  return ArgumentsResult::Run;
}

ArgumentsResult readArguments(int argc, char** argv, RunSettings* settings) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-") {
      settings->streamMode = true;
      break;
    }
    bool used = false;
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (applyArgument(arg, next, &used, settings) == ArgumentsResult::Exit) {
      return ArgumentsResult::Exit;
    }
    if (used) ++i;
  }
  return ArgumentsResult::Run;
}

// An install meant for another root must never change the running system,
// so a root that cannot be entered stops the run.
bool enterRoot(const std::string& root) {
  if (!root.empty() && chroot(root.c_str()) != 0) {
    fprintf(stderr, "chroot: %s\n", strerror(errno));
    return false;
  }
  if (chdir("/") != 0) {
    fprintf(stderr, "chdir: %s\n", strerror(errno));
    return false;
  }
  return true;
}

std::string systemArchitecture() {
  const char* arch = getenv("arch");
  return arch ? arch : kDefaultArchitecture;
}

int runMode(PackageDb& db, const RunSettings& settings) {
  if (settings.show) {
    db.printListing();
    return 0;
  }
  ChangeSet changes;
  db.applySchedule(changes, true);
  if (settings.streamMode) return runStreamMode(db, changes, settings.installOptions);
  return runInstallMode(db, changes, settings.installOptions, settings.applyNow);
}

}  // namespace

int runInstaller(int argc, char** argv) {
  const char* board = getenv("board");
  if (board && strcmp(board, "qemu_p9") == 0) return 0;
  PackageDb& db = PackageDb::instance();
  RunSettings settings;
  if (readArguments(argc, argv, &settings) == ArgumentsResult::Exit) return settings.exitStatus;
  if (!enterRoot(settings.rootDirectory)) return 1;
  // A commit that a crash or power cut interrupted is finished before
  // anything reads the database; its notice obeys -q.
  db.quiet = settings.quiet;
  recoverInterruptedRun(FileSystem::real());
  removeStaleReplacement(FileSystem::real(), paths::kPostlog);
  // A database read only in part would make every decision of the run
  // wrong: packages missing from it would look uninstalled.
  PackageDb::LoadScope scope =
      settings.show ? PackageDb::LoadScope::kListing : PackageDb::LoadScope::kWhole;
  if (!db.openRepository(settings.quiet, systemArchitecture(), scope)) return 1;
  int status = runMode(db, settings);
  // A run that staged nothing for later leaves no staging directory: the
  // stream copy, deleted last, may have kept it from going with the rest.
  removeEmptyStagingDirectory(FileSystem::real());
  return status;
}

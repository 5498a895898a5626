#include "driver/commit_report.h"

#include <errno.h>
#include <inttypes.h>

#include "console/console.h"
#include "driver/disk_space.h"
#include "pdb/paths.h"

namespace {

bool onKernelFileSystem(const std::string& directory) {
  std::string boot = paths::kFlashBoot;
  return directory == boot || directory.compare(0, boot.size() + 1, boot + "/") == 0;
}

int64_t negativeMargin(uint64_t bytes) {
  return bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MIN + 1 : -static_cast<int64_t>(bytes);
}

}  // namespace

bool lackedRoom(const CommitOutcome& outcome) {
  return !outcome.applied && (outcome.error == ENOSPC || outcome.error == EDQUOT);
}

bool reportShortfalls(const CommitOutcome& outcome) {
  for (const Shortfall& shortfall : outcome.shortfalls) {
    int64_t kilobytes = kilobytesToFree(negativeMargin(shortfall.bytes));
    if (onKernelFileSystem(shortfall.directory)) {
      Console::active().printError("upgrade failed, free %" PRId64 " kB of kernel disk space", kilobytes);
    } else {
      Console::active().printError("upgrade failed, free %" PRId64 " kB of disk space", kilobytes);
    }
  }
  return !outcome.shortfalls.empty();
}

void reportNotApplied(const std::string& label, const CommitOutcome& outcome) {
  errno = lackedRoom(outcome) ? ENOSPC : outcome.error;
  reportCreateFailure(label, outcome.failedTarget);
}

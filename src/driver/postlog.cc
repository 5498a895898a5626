// The post-install log: one message per line, each ended by a line feed.
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "platform/regular_file.h"

namespace {

const size_t kPostlogReserve = 4096;

void writeLines(std::ofstream& log, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) log << line << '\n';
}

}  // namespace

void PackageDb::loadPostlog() {
  // A log that is no regular file (a FIFO would block both the reading
  // and the writing) is neither read nor written.
  if (!writableAsRegularFile(paths::kPostlog)) return;
  std::vector<std::string> oldLines;
  {
    // Only the first part of a log grown too long is kept.
    std::string content;
    readRegularFile(paths::kPostlog, kPostlogLimit, &content);
    std::istringstream log(content);
    std::string line;
    // A last line without a line feed (the reserve, or a cut write) is
    // not a complete message and is dropped.
    while (log && std::getline(log, line) && !log.eof()) oldLines.push_back(line);
  }
  messages.insert(messages.end(), oldLines.begin(), oldLines.end());
  // The old lines go back ahead of the reserve: a run that stops before
  // writePostlog must not lose them.
  std::ofstream log(paths::kPostlog, std::ios::binary | std::ios::trunc);
  writeLines(log, oldLines);
  log << std::string(kPostlogReserve, '\0');
  postlogLoaded = true;
}

void PackageDb::writePostlog() {
  if (!writableAsRegularFile(paths::kPostlog)) return;
  std::ios::openmode mode = std::ios::binary;
  if (postlogLoaded) {
    mode |= std::ios::trunc;
  } else if (messages.empty()) {
    return;
  } else {
    mode |= std::ios::app;
  }
  std::ofstream log(paths::kPostlog, mode);
  sync();
  writeLines(log, messages);
}

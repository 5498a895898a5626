// The post-install log: one message per line, each ended by a line feed.
// It is replaced as a whole (temporary file, flush, rename), never
// truncated in place, so that a cut run leaves its old lines.
#include <fstream>
#include <sstream>
#include <string>

#include "commit/file_system.h"
#include "pdb/package_db.h"
#include "pdb/paths.h"
#include "platform/regular_file.h"

namespace {

const size_t kPostlogReserve = 4096;

std::string linesText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
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
  replaceFile(FileSystem::real(), paths::kPostlog,
              linesText(oldLines) + std::string(kPostlogReserve, '\0'));
  postlogLoaded = true;
}

void PackageDb::writePostlog() {
  if (!writableAsRegularFile(paths::kPostlog)) return;
  if (postlogLoaded) {
    replaceFile(FileSystem::real(), paths::kPostlog, linesText(messages));
    return;
  }
  if (messages.empty()) return;
  // Appending leaves the old lines in place; a cut append only loses the
  // unfinished last line, which the next load drops.
  std::ofstream log(paths::kPostlog, std::ios::binary | std::ios::app);
  log << linesText(messages);
}

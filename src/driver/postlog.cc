// The post-install log: one message per line, each ended by a line feed.
#include <unistd.h>

#include <fstream>
#include <string>

#include "pdb/package_db.h"
#include "pdb/paths.h"

namespace {

const size_t kPostlogReserve = 4096;

void writeLines(std::ofstream& log, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) log << line << '\n';
}

}  // namespace

void PackageDb::loadPostlog() {
  std::vector<std::string> oldLines;
  {
    std::ifstream log(paths::kPostlog, std::ios::binary);
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

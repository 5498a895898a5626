// npk: the package tool (commands.h).
#include <stdlib.h>
#include <time.h>

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

// Build times default to $SOURCE_DATE_EPOCH, so that builds can be
// repeated byte for byte, else to the clock.
time_t defaultBuildTime() {
  const char* epoch = getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    long long seconds = strtoll(epoch, &end, 10);
    if (*end == '\0' && seconds >= 0) return time_t(seconds);
  }
  return time(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  int status = runNpk(arguments, defaultBuildTime(), std::cout, std::cerr);
  std::cout.flush();
  return status;
}

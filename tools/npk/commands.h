// The npk program: `build`, `bundle`, `info`, `ls` and `verify`, each
// with `--help`. Exit statuses: 0 success; 1 failure (for `verify`: a
// package would be refused); 2 a command line npk does not understand.
// Results go to `out`; errors and warnings to `err`, each naming the file
// and the fault. Package files written with "-o -" go straight to
// standard output.
#ifndef NPK_COMMANDS_H_
#define NPK_COMMANDS_H_

#include <time.h>

#include <ostream>
#include <string>
#include <vector>

const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;

// `arguments` without the program name. `now` is the build time used when
// a description gives none.
int runNpk(const std::vector<std::string>& arguments, time_t now, std::ostream& out,
           std::ostream& err);

#endif  // NPK_COMMANDS_H_

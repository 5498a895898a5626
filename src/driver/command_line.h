// The program entry: reads the command line and the environment, changes
// the root, opens the package database and hands over to one run mode.
#ifndef DRIVER_COMMAND_LINE_H_
#define DRIVER_COMMAND_LINE_H_

#include <string>

struct RunSettings {
  std::string rootDirectory;   // empty: no change of root
  bool applyNow = true;        // cleared by --safe
  bool streamMode = false;     // "-"
  bool quiet = false;          // -q
  bool show = false;           // --show
  unsigned installOptions = 0; // InstallOption bits
  int exitStatus = 0;          // of a mode carried out while reading the arguments
};

// Runs the whole program for `argv` and returns the process exit status.
int runInstaller(int argc, char** argv);

#endif  // DRIVER_COMMAND_LINE_H_

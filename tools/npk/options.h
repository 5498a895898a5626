// Command-line arguments of the npk commands. Options are written
// "--name value" or "--name=value"; "--" ends the options. Every
// description key (description.h) is also an option of `build` and
// `bundle`: "--version 7.1", "--depends 'routing >= 7.1'" (lists may be
// given more than once), and the yes/no keys as bare flags ("--boot-image",
// or "--boot-image=no").
#ifndef NPK_OPTIONS_H_
#define NPK_OPTIONS_H_

#include <string>
#include <utility>
#include <vector>

#include "signing.h"

enum class CommandKind { kBuild, kBundle, kInfo, kList, kVerify };

struct CommandOptions {
  bool help = false;
  std::string output;           // -o, --output
  std::string descriptionFile;  // -d, --description
  // Description fields from the command line, in the order given; they
  // are applied after the description file.
  std::vector<std::pair<std::string, std::string>> fields;
  SigningOptions signing;       // --sign, --key, --legacy-key (build)
  bool assumeSecure = false;    // --secure (info, verify)
  std::vector<std::string> operands;
};

// False with *error describing the misuse (unknown option, missing value,
// an option the command does not take).
bool parseCommandOptions(CommandKind kind, const std::vector<std::string>& arguments,
                         CommandOptions* options, std::string* error);

#endif  // NPK_OPTIONS_H_

// Command-line arguments of the npk commands. Options are written
// "--name value" or "--name=value"; "--" ends the options. Every
// description key (description.h) is also an option of `build` and
// `bundle`: "--version 7.1", "--depends 'routing >= 7.1'" (lists may be
// given more than once), and the yes/no keys as bare flags ("--boot-image",
// or "--boot-image=no"). Which command takes which other option is fixed
// in options.cc; any other option is a usage error.
#ifndef NPK_OPTIONS_H_
#define NPK_OPTIONS_H_

#include <string>
#include <utility>
#include <vector>

#include "signing.h"

enum class CommandKind {
  kBuild,
  kBundle,
  kInfo,
  kList,
  kVerify,
  kKeygen,
  kPubkey,
  kTrusted,
  kExtract,
  kResign,
  kDiff,
  kField,
  kSimulate,
  kRoot,
};

struct CommandOptions {
  bool help = false;
  std::string output;           // -o, --output (build, bundle, resign; keygen: a directory)
  std::string descriptionFile;  // -d, --description
  // Description fields from the command line, in the order given; they
  // are applied after the description file.
  std::vector<std::pair<std::string, std::string>> fields;
  SigningOptions signing;       // --sign, --key, --legacy-key (build, resign)
  bool assumeSecure = false;    // --secure (info, verify, extract)
  bool json = false;            // --json (info, ls, verify, diff, pubkey, trusted, simulate)
  bool digests = false;         // --digest (ls)
  bool skipSpecial = false;     // --skip-special (build)
  bool noVerify = false;        // --no-verify (extract)
  std::vector<std::string> trustFiles;  // --trust (info, verify, extract)
  std::string scheme;           // --scheme (keygen)
  std::string streamFile;       // --stream (simulate)
  std::string installer;        // --installer (simulate)
  std::string architecture;     // --arch (root)
  std::string board;            // --board (root)
  std::vector<std::string> operands;
};

// False with *error describing the misuse (unknown option, missing value,
// an option the command does not take).
bool parseCommandOptions(CommandKind kind, const std::vector<std::string>& arguments,
                         CommandOptions* options, std::string* error);

#endif  // NPK_OPTIONS_H_

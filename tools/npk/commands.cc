#include "commands.h"

#include "command_context.h"
#include "help_text.h"

namespace {

struct Command {
  const char* word;
  CommandKind kind;
  int (*run)(const CommandOptions&, const CommandContext&);
  const char* help;
  // Operands the command takes: at least `minOperands`, at most
  // `maxOperands` (-1: any number).
  int minOperands;
  int maxOperands;
};

const Command kCommands[] = {
    {"build", CommandKind::kBuild, buildCommand, kBuildHelp, 0, 0},
    {"bundle", CommandKind::kBundle, bundleCommand, kBundleHelp, 1, -1},
    {"info", CommandKind::kInfo, infoCommand, kInfoHelp, 1, -1},
    {"ls", CommandKind::kList, listCommand, kListHelp, 1, -1},
    {"verify", CommandKind::kVerify, verifyCommand, kVerifyHelp, 1, -1},
    {"keygen", CommandKind::kKeygen, keygenCommand, kKeygenHelp, 0, 0},
    {"pubkey", CommandKind::kPubkey, pubkeyCommand, kPubkeyHelp, 1, -1},
    {"trusted", CommandKind::kTrusted, trustedCommand, kTrustedHelp, 0, 0},
    {"extract", CommandKind::kExtract, extractCommand, kExtractHelp, 2, 2},
    {"resign", CommandKind::kResign, resignCommand, kResignHelp, 1, 1},
    {"diff", CommandKind::kDiff, diffCommand, kDiffHelp, 2, 2},
    {"field", CommandKind::kField, fieldCommand, kFieldHelp, 2, 2},
    {"simulate", CommandKind::kSimulate, simulateCommand, kSimulateHelp, 1, -1},
    {"root", CommandKind::kRoot, rootCommand, kRootHelp, 1, -1},
};

int usageError(const CommandContext& context, const std::string& command,
               const std::string& text) {
  return context.usage(command, text);
}

int runCommand(const Command& command, const std::vector<std::string>& arguments,
               const CommandContext& context) {
  CommandOptions options;
  std::string error;
  if (!parseCommandOptions(command.kind, arguments, &options, &error)) {
    return usageError(context, command.word, error);
  }
  if (options.help) {
    context.out << command.help;
    return kExitSuccess;
  }
  int count = int(options.operands.size());
  if (count < command.minOperands) {
    return usageError(context, command.word,
                      count == 0 ? "no file given" : "too few arguments");
  }
  if (command.maxOperands >= 0 && count > command.maxOperands) {
    return usageError(context, command.word,
                      "unexpected argument '" + options.operands[command.maxOperands] + "'");
  }
  return command.run(options, context);
}

}  // namespace

int CommandContext::fail(const std::string& text) const {
  err << "npk: " << text << "\n";
  return kExitFailure;
}

void CommandContext::warn(const std::string& text) const {
  err << "npk: warning: " << text << "\n";
}

int CommandContext::usage(const std::string& command, const std::string& text) const {
  std::string prefix = command.empty() ? "npk" : "npk " + command;
  err << prefix << ": " << text << "\n"
      << "Try '" << prefix << " --help'.\n";
  return kExitUsage;
}

int runNpk(const std::vector<std::string>& arguments, time_t now, std::ostream& out,
           std::ostream& err) {
  CommandContext context{now, out, err};
  if (arguments.empty()) return usageError(context, "", "no command given");
  const std::string& word = arguments[0];
  if (word == "--help" || word == "-h" || word == "help") {
    out << kNpkHelp;
    return kExitSuccess;
  }
  for (const Command& command : kCommands) {
    if (word != command.word) continue;
    return runCommand(command, std::vector<std::string>(arguments.begin() + 1, arguments.end()),
                      context);
  }
  return usageError(context, "", "unknown command '" + word + "'");
}

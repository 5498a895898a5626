#include "commands.h"

#include "command_context.h"
#include "help_text.h"

namespace {

struct Command {
  const char* word;
  CommandKind kind;
  int (*run)(const CommandOptions&, const CommandContext&);
  const char* help;
  bool needsOperands;
};

const Command kCommands[] = {
    {"build", CommandKind::kBuild, buildCommand, kBuildHelp, false},
    {"bundle", CommandKind::kBundle, bundleCommand, kBundleHelp, true},
    {"info", CommandKind::kInfo, infoCommand, kInfoHelp, true},
    {"ls", CommandKind::kList, listCommand, kListHelp, true},
    {"verify", CommandKind::kVerify, verifyCommand, kVerifyHelp, true},
};

int usageError(const CommandContext& context, const std::string& command,
               const std::string& text) {
  std::string prefix = command.empty() ? "npk" : "npk " + command;
  context.err << prefix << ": " << text << "\n"
              << "Try '" << prefix << " --help'.\n";
  return kExitUsage;
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
  if (command.needsOperands && options.operands.empty()) {
    return usageError(context, command.word, "no file given");
  }
  if (!command.needsOperands && !options.operands.empty()) {
    return usageError(context, command.word, "unexpected argument '" + options.operands[0] + "'");
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

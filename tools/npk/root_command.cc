// `npk root init`.
#include "command_context.h"
#include "commands.h"
#include "router_root.h"

int rootCommand(const CommandOptions& options, const CommandContext& context) {
  if (options.operands[0] != "init") {
    return context.usage("root", "unknown action '" + options.operands[0] + "' (npk root init DIR)");
  }
  if (options.operands.size() != 2) {
    return context.usage("root", options.operands.size() < 2 ? "name the directory: npk root init DIR"
                                                             : "unexpected argument '" +
                                                                   options.operands[2] + "'");
  }
  const std::string& dir = options.operands[1];
  RouterRootSettings settings{options.architecture, options.board};
  std::string error;
  if (!initRouterRoot(dir, settings, &error)) return context.fail(error);
  std::string environment;
  if (!settings.architecture.empty()) environment += "arch=" + settings.architecture + " ";
  if (!settings.board.empty()) environment += "board=" + settings.board + " ";
  context.out << "made the router root " << dir << "\n"
              << "  packages go into " << dir << "/rw/pckg/.download/, then: " << environment
              << "installer -r " << dir << "\n"
              << "  or a dry run: npk simulate " << dir << " PACKAGE...\n";
  return kExitSuccess;
}

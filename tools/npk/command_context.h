// What every npk command is given, and the commands themselves; each
// returns the exit status (commands.h). Options are already parsed and
// --help already handled.
#ifndef NPK_COMMAND_CONTEXT_H_
#define NPK_COMMAND_CONTEXT_H_

#include <time.h>

#include <ostream>
#include <string>

#include "options.h"

struct CommandContext {
  time_t now;
  std::ostream& out;
  std::ostream& err;

  // "npk: <text>" on the error stream; returns kExitFailure.
  int fail(const std::string& text) const;
  void warn(const std::string& text) const;
  // "npk <command>: <text>" and where to find help; returns kExitUsage.
  int usage(const std::string& command, const std::string& text) const;
};

int buildCommand(const CommandOptions& options, const CommandContext& context);
int bundleCommand(const CommandOptions& options, const CommandContext& context);
int infoCommand(const CommandOptions& options, const CommandContext& context);
int listCommand(const CommandOptions& options, const CommandContext& context);
int verifyCommand(const CommandOptions& options, const CommandContext& context);
int keygenCommand(const CommandOptions& options, const CommandContext& context);
int pubkeyCommand(const CommandOptions& options, const CommandContext& context);
int trustedCommand(const CommandOptions& options, const CommandContext& context);
int extractCommand(const CommandOptions& options, const CommandContext& context);
int resignCommand(const CommandOptions& options, const CommandContext& context);
int diffCommand(const CommandOptions& options, const CommandContext& context);
int fieldCommand(const CommandOptions& options, const CommandContext& context);
int simulateCommand(const CommandOptions& options, const CommandContext& context);
int rootCommand(const CommandOptions& options, const CommandContext& context);

#endif  // NPK_COMMAND_CONTEXT_H_

// The bash completion (npk-completion.bash) against each command's --help
// and the option parser: the completion offers exactly the options that a
// command's --help lists, which are exactly the options its parser takes,
// and after an option that takes no value it completes what it would
// complete without the option.
#include <stdio.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "commands.h"
#include "description.h"
#include "help_text.h"
#include "options.h"
#include "support/temp_dir.h"

namespace {

using Options = std::set<std::string>;

const std::map<std::string, CommandKind> kKinds = {
    {"build", CommandKind::kBuild},     {"bundle", CommandKind::kBundle},
    {"info", CommandKind::kInfo},       {"ls", CommandKind::kList},
    {"verify", CommandKind::kVerify},   {"keygen", CommandKind::kKeygen},
    {"pubkey", CommandKind::kPubkey},   {"trusted", CommandKind::kTrusted},
    {"extract", CommandKind::kExtract}, {"resign", CommandKind::kResign},
    {"diff", CommandKind::kDiff},       {"field", CommandKind::kField},
    {"simulate", CommandKind::kSimulate}, {"root", CommandKind::kRoot},
};

std::string completionFile() {
  std::string self = __FILE__;
  return self.substr(0, self.rfind('/') + 1) + "npk-completion.bash";
}

// The commands npk --help lists.
std::vector<std::string> commandWords() {
  std::vector<std::string> words;
  std::istringstream lines(kNpkHelp);
  std::string line;
  bool listing = false;
  while (std::getline(lines, line)) {
    if (line == "commands:") listing = true;
    else if (line.empty()) listing = false;
    else if (listing) words.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return words;
}

// The options a text names ("-o", "--build-time"), less --help.
Options optionsIn(const std::string& text) {
  static const std::regex option("(^|[^A-Za-z0-9_-])(--?[a-z][a-z0-9-]*)");
  Options found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it) {
    std::string name = (*it)[2];
    if (name != "--help" && name != "-h") found.insert(name);
  }
  return found;
}

std::string helpOf(const std::string& command) {
  std::ostringstream out, err;
  EXPECT_EQ(0, runNpk({command, "--help"}, 0, out, err)) << command;
  return out.str();
}

// What the parser says to the option followed by a word.
bool parserTakes(CommandKind kind, const std::string& option) {
  CommandOptions parsed;
  std::string error;
  if (parseCommandOptions(kind, {option, "x"}, &parsed, &error)) return true;
  return error.find("unknown option") == std::string::npos &&
         error.find("does not belong") == std::string::npos;
}

bool takesNoValue(CommandKind kind, const std::string& option) {
  CommandOptions parsed;
  std::string error;
  return parseCommandOptions(kind, {option}, &parsed, &error);
}

// Runs the completion function on each command line (the last word is the
// one completed) and returns what it offers for each, one string a line.
// _init_completion and _filedir (of the bash-completion package) are
// stood in for: file completion shows as "<files ARGS>".
std::vector<std::string> complete(const std::vector<std::vector<std::string>>& lines) {
  testing_support::TempDir dir;
  std::string script =
      "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD;\n"
      "  cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; }\n"
      "_filedir() { COMPREPLY=(\"<files $*>\"); }\n"
      "source '" + completionFile() + "' || exit 1\n"
      "q() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _npk;\n"
      "  printf '%s ' \"${COMPREPLY[@]}\"; echo; }\n";
  for (const auto& line : lines) {
    script += "q";
    for (const std::string& word : line) script += " '" + word + "'";
    script += "\n";
  }
  std::string path = dir.file("queries.bash");
  EXPECT_TRUE(testing_support::writeFile(path, script));
  FILE* bash = popen(("bash --norc --noprofile " + path).c_str(), "r");
  std::vector<std::string> answers;
  if (bash == nullptr) return answers;
  char buffer[4096];
  std::string line;
  while (fgets(buffer, sizeof buffer, bash) != nullptr) {
    line += buffer;
    if (line.back() != '\n') continue;
    line.pop_back();
    answers.push_back(line);
    line.clear();
  }
  EXPECT_EQ(0, pclose(bash));
  return answers;
}

Options words(const std::string& text) {
  Options set;
  std::istringstream in(text);
  std::string word;
  while (in >> word) set.insert(word);
  return set;
}

TEST(NpkCompletion, OffersExactlyTheOptionsEachCommandsHelpListsAndItsParserTakes) {
  std::vector<std::string> commands = commandWords();
  ASSERT_EQ(kKinds.size(), commands.size());
  // Every option named anywhere, so that one a command takes but its help
  // leaves out is found too.
  Options universe;
  for (const std::string& key : descriptionKeys()) universe.insert("--" + key);
  std::vector<std::vector<std::string>> queries;
  for (const std::string& command : commands) {
    Options named = optionsIn(helpOf(command));
    universe.insert(named.begin(), named.end());
    queries.push_back({"npk", command, "-"});
  }
  std::vector<std::string> offered = complete(queries);
  ASSERT_EQ(commands.size(), offered.size());
  for (size_t i = 0; i < commands.size(); ++i) {
    Options completion = words(offered[i]);
    EXPECT_EQ(1u, completion.erase("--help")) << commands[i];
    universe.insert(completion.begin(), completion.end());
  }
  for (size_t i = 0; i < commands.size(); ++i) {
    const std::string& command = commands[i];
    ASSERT_EQ(1u, kKinds.count(command)) << command;
    Options taken;
    for (const std::string& option : universe) {
      if (parserTakes(kKinds.at(command), option)) taken.insert(option);
    }
    Options completion = words(offered[i]);
    completion.erase("--help");
    EXPECT_EQ(taken, optionsIn(helpOf(command))) << "npk " << command << " --help";
    EXPECT_EQ(taken, completion) << "completion of npk " << command;
  }
}

TEST(NpkCompletion, AnOptionWithoutAValueLeavesTheNextWordToTheCommand) {
  std::vector<std::vector<std::string>> queries;
  std::vector<std::string> asked;
  for (const auto& command : kKinds) {
    for (const std::string& option : optionsIn(helpOf(command.first))) {
      if (!takesNoValue(command.second, option)) continue;
      queries.push_back({"npk", command.first, ""});
      queries.push_back({"npk", command.first, option, ""});
      asked.push_back("npk " + command.first + " " + option);
    }
  }
  ASSERT_FALSE(asked.empty());
  std::vector<std::string> offered = complete(queries);
  ASSERT_EQ(queries.size(), offered.size());
  for (size_t i = 0; i < asked.size(); ++i) {
    EXPECT_EQ(offered[2 * i], offered[2 * i + 1]) << asked[i] << " <TAB>";
  }
  // And an option with a value of its own words offers them.
  std::vector<std::string> digest = complete({{"npk", "build", "--digest", ""},
                                              {"npk", "ls", "--digest", ""},
                                              {"npk", "root", ""}});
  ASSERT_EQ(3u, digest.size());
  EXPECT_EQ(words("sha256 sha1"), words(digest[0]));
  EXPECT_EQ("<files @(npk|dpk)> ", digest[1]);
  EXPECT_EQ("init ", digest[2]);
}

}  // namespace

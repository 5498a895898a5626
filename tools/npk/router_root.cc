#include "router_root.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <sstream>
#include <vector>

#include "file_io.h"

namespace {

struct RootDirectory {
  const char* path;
  mode_t mode;
};

const RootDirectory kLayout[] = {
    {"/flash", 0755},          {"/flash/boot", 0755},         {"/flash/var", 0755},
    {"/flash/var/pdb", 0755},  {"/ram", 0755},                {"/ram/pdb", 0755},
    {"/rw", 0755},             {"/rw/pckg", 0755},            {"/rw/pckg/.download", 0755},
    {"/rw/pckg/.images", 0755}, {"/rw/platform", 0755},       {"/tmp", 01777},
};

const char kSettingsFile[] = "/rw/platform/settings";

const char kSettingsHeader[] =
    "# Platform settings of this router root (npk root init).\n"
    "# The installer reads its device mode from here: \"unrestricted 0|1\",\n"
    "# \"flagged 0|1\", \"min-version N\", \"safe MINVER MAXVER MINBUILD MAXBUILD\"\n"
    "# (man installer). \"arch\" and \"board\" are what the router's system gives\n"
    "# the installer in its environment; npk simulate passes them on.\n";

std::string fault(const std::string& path, const char* what) {
  return path + ": " + what + ": " + strerror(errno);
}

// A word of the settings file: not empty, no blank, no control character.
bool plainWord(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == '#') return false;
  }
  return true;
}

// `dir` exists as an empty directory, or is made now.
bool takeDirectory(const std::string& dir, std::string* error) {
  if (mkdir(dir.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) {
    *error = fault(dir, "cannot create");
    return false;
  }
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) {
    *error = fault(dir, "cannot open");
    return false;
  }
  bool empty = true;
  while (struct dirent* entry = readdir(listing)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) empty = false;
  }
  closedir(listing);
  if (!empty) *error = dir + ": not empty; a router root is made in a new or empty directory";
  return empty;
}

bool makeDirectory(const std::string& path, mode_t mode, std::string* error) {
  if (mkdir(path.c_str(), mode) != 0) {
    *error = fault(path, "cannot create");
    return false;
  }
  // mkdir obeys the umask; the root's modes are a router's.
  if (chmod(path.c_str(), mode) != 0) {
    *error = fault(path, "cannot set the mode");
    return false;
  }
  return true;
}

}  // namespace

bool initRouterRoot(const std::string& dir, const RouterRootSettings& settings,
                    std::string* error) {
  for (const std::string* word : {&settings.architecture, &settings.board}) {
    if (!word->empty() && !plainWord(*word)) {
      *error = "'" + *word + "' is not one word (--" +
               (word == &settings.architecture ? "arch" : "board") + ")";
      return false;
    }
  }
  if (!takeDirectory(dir, error)) return false;
  if (chmod(dir.c_str(), 0755) != 0) {
    *error = fault(dir, "cannot set the mode");
    return false;
  }
  for (const RootDirectory& entry : kLayout) {
    if (!makeDirectory(dir + entry.path, entry.mode, error)) return false;
  }
  std::string text = kSettingsHeader;
  if (!settings.architecture.empty()) text += "arch " + settings.architecture + "\n";
  if (!settings.board.empty()) text += "board " + settings.board + "\n";
  std::string settingsPath = dir + kSettingsFile;
  if (!writeOutputFile(settingsPath, text, error)) return false;
  if (chmod(settingsPath.c_str(), 0644) != 0) {
    *error = fault(settingsPath, "cannot set the mode");
    return false;
  }
  return true;
}

std::map<std::string, std::string> platformEnvironment(const std::string& settingsText) {
  std::map<std::string, std::string> environment;
  std::istringstream lines(settingsText);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string key, value, rest;
    if (!(words >> key >> value) || (words >> rest && rest[0] != '#')) continue;
    if ((key == "arch" || key == "board") && value[0] != '#') environment[key] = value;
  }
  return environment;
}

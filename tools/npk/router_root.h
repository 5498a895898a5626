// `npk root init`: an empty router root that the installer accepts, laid
// out as on a router, and the platform settings file inside it.
//
//   /flash            installed files; /flash/boot, /flash/var/pdb (the
//                     package database)
//   /ram              schedules (/ram/pdb), /ram/MANIFEST, markers
//   /rw/pckg/.download  packages waiting for an install run
//   /rw/pckg/.images  kept images
//   /rw/platform/settings  the platform settings
//   /tmp              mode 1777
// Every directory is mode 0755 except /tmp, whatever the umask.
//
// The settings file holds what the installer reads as its device mode
// (platform/nv.h) and two lines it does not read there: "arch ARCH" and
// "board BOARD", the values the router's system gives the installer in its
// environment ("arch", "board"). `npk simulate` passes them on.
#ifndef NPK_ROUTER_ROOT_H_
#define NPK_ROUTER_ROOT_H_

#include <map>
#include <string>

struct RouterRootSettings {
  std::string architecture;  // "" leaves the installer's default (i386)
  std::string board;         // "" for none
};

// Makes `dir` (new, or an empty directory) a router root. False with
// *error naming the path and the fault; a directory that is not empty is
// refused and left alone.
bool initRouterRoot(const std::string& dir, const RouterRootSettings& settings,
                    std::string* error);

// The "arch" and "board" lines of a settings file's text, by name; the
// last line of each name counts.
std::map<std::string, std::string> platformEnvironment(const std::string& settingsText);

#endif  // NPK_ROUTER_ROOT_H_

// The usage texts of npk and its commands, printed by --help.
#ifndef NPK_HELP_TEXT_H_
#define NPK_HELP_TEXT_H_

extern const char kNpkHelp[];
extern const char kBuildHelp[];
extern const char kBundleHelp[];
extern const char kInfoHelp[];
extern const char kListHelp[];
extern const char kVerifyHelp[];

#endif  // NPK_HELP_TEXT_H_

// The usage texts of npk and its commands, printed by --help.
#ifndef NPK_HELP_TEXT_H_
#define NPK_HELP_TEXT_H_

extern const char kNpkHelp[];
extern const char kBuildHelp[];
extern const char kBundleHelp[];
extern const char kInfoHelp[];
extern const char kListHelp[];
extern const char kVerifyHelp[];
extern const char kKeygenHelp[];
extern const char kPubkeyHelp[];
extern const char kTrustedHelp[];
extern const char kExtractHelp[];
extern const char kResignHelp[];
extern const char kDiffHelp[];
extern const char kFieldHelp[];
extern const char kSimulateHelp[];
extern const char kRootHelp[];

#endif  // NPK_HELP_TEXT_H_

// The console of a run: its messages, the transient progress line, the
// install bar, the fixed failure reports and the copy spinner. Everything
// goes to standard output.
#ifndef CONSOLE_CONSOLE_H_
#define CONSOLE_CONSOLE_H_

#include <stdarg.h>
#include <stdint.h>

#include <string>
#include <vector>

// The console state of a run and its message routines. The package
// database of the run is its console (PackageDb derives from it) and makes
// itself the active one; the free functions below print through the active
// console.
class Console {
 public:
  // The console made active, else one that lives as long as the process.
  static Console& active();
  // `console` must stay alive while it is active; null restores the
  // fallback.
  static void setActive(Console* console);

  Console() = default;
  virtual ~Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Console messages: "WARNING: " / "ERROR: " / no prefix, the formatted
  // text cut to 255 bytes, kept in `messages`; nothing while `quiet`.
  void printWarning(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void printError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void printNotice(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Text of the transient progress line on the console; empty = none.
  std::string progressLine;
  // Every message line printed this run, prefix included.
  std::vector<std::string> messages;
  bool quiet = false;

 private:
  void printMessage(const char* prefix, const char* format, va_list args);
};

// Replaces the progress line; the empty text erases it. Nothing when quiet
// or when the text is already shown.
void showProgress(const std::string& line);
// Draws the 79-column install bar of the package shown as `name` ("(disabled)"
// marks a disabled standalone package) for `done` of `total` bytes; nothing
// when `total` is 0.
void showInstallProgress(const std::string& name, bool disabled, uint64_t done, uint64_t total);
// Error for a failed file creation for the package shown as `name`, chosen
// by the current errno.
void reportCreateFailure(const std::string& name, const std::string& path);
// "installation of %s failed: broken package".
void reportBrokenPackage(const std::string& name);
// Copies a regular file, creating or truncating the target with the source's
// permission bits; advances the spinner per block when `spinner` is on.
// Prints nothing; returns 0 or the error that stopped the copy. The caller
// gives a target that is no live file (a temporary file it then renames).
int copyWithSpinner(const std::string& source, const std::string& target, bool spinner);

#endif  // CONSOLE_CONSOLE_H_

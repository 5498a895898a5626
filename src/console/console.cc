#include "console/console.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/spinner.h"
#include "platform/handles.h"

namespace {

// Width of the widest progress line (the install bar); erasing writes as
// many blanks.
const size_t kProgressWidth = 79;
// Room the install bar leaves for its text: the width less " [" and "]".
const size_t kBarTextWidth = kProgressWidth - 3;
const size_t kMessageBufferSize = 256;
const size_t kCopyBlockSize = 16384;

void writeText(const std::string& text) { fwrite(text.data(), 1, text.size(), stdout); }

void eraseProgressLine() {
  writeText("\r" + std::string(kProgressWidth, ' ') + "\r");
  fflush(stdout);
}

void drawProgress(Console& db, const std::string& line) {
  if (db.quiet || line == db.progressLine) return;
  std::string output = "\x1b[?25l\r" + line;
  if (db.progressLine.size() > line.size()) output.append(db.progressLine.size() - line.size(), ' ');
  output += "\r\x1b[?25h";
  writeText(output);
  fflush(stdout);
  db.progressLine = line;
}

std::string installText(const std::string& name, bool disabled) {
  std::string text = "installing ";
  if (disabled) text += " (disabled) ";
  return text + name;
}

// The text, " [", `filled` of `width` columns as "#", the rest blank, "]".
std::string barLine(const std::string& text, uint64_t filled, uint64_t width) {
  return text + " [" + std::string(filled, '#') + std::string(width - filled, ' ') + "]";
}

ssize_t readRetrying(int fd, char* buffer, size_t size) {
  ssize_t got;
  do {
    got = read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// True when the whole block was stored by one write.
bool writeBlock(int fd, const char* buffer, size_t size) {
  ssize_t put;
  do {
    put = write(fd, buffer, size);
  } while (put < 0 && errno == EINTR);
  return put >= 0 && static_cast<size_t>(put) == size;
}

Console* activeConsole = nullptr;

}  // namespace

Console& Console::active() {
  // Until a console is made active, messages go to one that lives as long
  // as the process.
  static Console* const fallback = new Console();
  return activeConsole != nullptr ? *activeConsole : *fallback;
}

void Console::setActive(Console* console) { activeConsole = console; }

void Console::printWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printMessage("WARNING: ", format, args);
  va_end(args);
}

void Console::printError(const char* format, ...) {
  drawProgress(*this, std::string());
  va_list args;
  va_start(args, format);
  printMessage("ERROR: ", format, args);
  va_end(args);
}

void Console::printNotice(const char* format, ...) {
  drawProgress(*this, std::string());
  va_list args;
  va_start(args, format);
  printMessage("", format, args);
  va_end(args);
}

void Console::printMessage(const char* prefix, const char* format, va_list args) {
  char text[kMessageBufferSize];
  if (vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  if (quiet) return;
  std::string line = std::string(prefix) + text;
  if (!progressLine.empty()) eraseProgressLine();
  writeText(line + "\n");
  fflush(stdout);
  if (!progressLine.empty()) {
    writeText(progressLine);
    fflush(stdout);
  }
  messages.push_back(line);
}

void showProgress(const std::string& line) { drawProgress(Console::active(), line); }

void showInstallProgress(const std::string& name, bool disabled, uint64_t done, uint64_t total) {
  if (total == 0) return;
  // A text too long for a bar is cut so that the line keeps its width and
  // shows an empty bar.
  std::string text = installText(name, disabled).substr(0, kBarTextWidth);
  uint64_t width = kBarTextWidth - text.size();
  uint64_t filled = done * width / total;
  // A header that understates the file's length must not overfill the bar.
  if (filled > width) filled = width;
  showProgress(barLine(text, filled, width));
}

void reportCreateFailure(const std::string& name, const std::string& path) {
  int error = errno;
  Console& console = Console::active();
  if (error == ENOSPC) {
    console.printError("installation of %s failed: disk is too small", name.c_str());
  } else if (error == EIO) {
    console.printError("installation of %s failed: disk error", name.c_str());
  } else {
    console.printError("installation of %s failed: could not create %s: %s", name.c_str(),
                       path.c_str(), strerror(error));
  }
}

void reportBrokenPackage(const std::string& name) {
  Console::active().printError("installation of %s failed: broken package", name.c_str());
}

int copyWithSpinner(const std::string& source, const std::string& target, bool spinner) {
  Descriptor in(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!in.valid()) return errno;
  struct stat status;
  if (fstat(in.get(), &status) != 0) return errno;
  if (!S_ISREG(status.st_mode)) return EINVAL;
  Descriptor out(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, status.st_mode & 0xfff));
  if (!out.valid()) return errno;
  // open applies the bits only to a new file, and through the umask; the
  // copy stands in for a rename, so the target gets the source's bits.
  if (fchmod(out.get(), status.st_mode & 0xfff) != 0) return errno;
  char block[kCopyBlockSize];
  for (;;) {
    ssize_t got = readRetrying(in.get(), block, sizeof block);
    if (got < 0) return errno;
    if (got == 0) return out.close();
    if (!writeBlock(out.get(), block, static_cast<size_t>(got))) return errno != 0 ? errno : ENOSPC;
    if (spinner) processSpinner().advance();
  }
}

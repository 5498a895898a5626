// `npk info`, `npk ls` and `npk verify`.
#include <stdio.h>

#include "command_context.h"
#include "commands.h"
#include "console/console.h"
#include "content_listing.h"
#include "description.h"
#include "file_io.h"
#include "package/package_reader.h"
#include "package_inspector.h"
#include "part_listing.h"
#include "pdb/display_name.h"
#include "version_text.h"

namespace {

// Control bytes and bytes from 0x7F on as \n, \t or \xNN, so that a text
// part can neither break the layout nor the terminal.
std::string printable(const std::string& text) {
  std::string shown;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\t') {
      shown += "\\t";
    } else if (byte == '\\') {
      shown += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", byte);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string hex32(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

std::string utcTime(uint32_t seconds) {
  time_t value = time_t(seconds);
  struct tm fields;
  char text[40];
  if (gmtime_r(&value, &fields) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &fields) == 0) {
    return "?";
  }
  return text;
}

std::string flagNames(uint32_t flags) {
  std::string names;
  auto add = [&names](const char* name) { names += (names.empty() ? "" : ", ") + std::string(name); };
  if (flags & PackageInfo::bootImageFlag) add("boot-image");
  if (flags & PackageInfo::noMetaFlag) add("no-meta");
  if (flags & ~(PackageInfo::bootImageFlag | PackageInfo::noMetaFlag)) add("other bits");
  return names.empty() ? std::string() : " (" + names + ")";
}

std::string digestHex(const PackageVerdict& verdict) {
  std::string hex;
  size_t size = verdict.digestIsSha256 ? 32 : 20;
  for (size_t i = 0; i < size; ++i) {
    char pair[4];
    snprintf(pair, sizeof pair, "%02x", verdict.digest[i]);
    hex += pair;
  }
  return hex;
}

std::string magicName(uint32_t magic) {
  if (magic == kUnrecordedMagic) return " (unrecorded: installs without a database entry)";
  if (magic == kPackageMagic) return " (package)";
  return " (not a package file)";
}

class InfoPrinter {
 public:
  explicit InfoPrinter(std::ostream& out) : out_(out) {}

  void container(const std::string& path, const PartListing& listing) {
    out_ << "file: " << path << "\n"
         << "magic: " << hex32(listing.magic) << magicName(listing.magic) << "\n"
         << "size: " << listing.fileSize << " bytes (the file header gives "
         << listing.totalSize << ")\n"
         << "parts:\n";
    char line[128];
    snprintf(line, sizeof line, "  %10s %5s  %-16s %10s\n", "offset", "type", "name", "length");
    out_ << line;
    for (const PartRecord& part : listing.parts) {
      snprintf(line, sizeof line, "  %10llu %5d  %-16s %10u\n",
               static_cast<unsigned long long>(part.offset), part.type, partTypeName(part.type),
               part.length);
      out_ << line;
    }
  }

  void header(const PackageInfo& info, const std::string& indent) {
    out_ << indent << "name: " << printable(info.name) << "\n"
         << indent << "version: " << versionText(info.version) << " (" << hex32(info.version)
         << ")\n"
         << indent << "build time: " << info.buildTime << " (" << utcTime(info.buildTime) << ")\n"
         << indent << "header flags: " << hex32(info.headerFlags) << flagNames(info.headerFlags)
         << "\n"
         << indent << "architecture: " << printable(info.architecture) << "\n";
    text(indent, "note", info.note);
    text(indent, "attribute 2", info.attribute2);
    text(indent, "attribute 24", info.attribute24);
    out_ << indent << "squashfs image: " << (info.squashfsImage ? "yes" : "no") << "\n";
    list(indent, "depends", info.depends, false);
    list(indent, "provides", info.provides, true);
    list(indent, "conflicts", info.conflicts, false);
  }

  void memberList(const std::vector<PackageRef>& members) {
    list("  ", "member", members, false);
  }

  void verdict(const PackageVerdict& verdict) {
    out_ << "  digest: " << (verdict.digestIsSha256 ? "SHA-256" : "SHA-1");
    if (verdict.digestKnown) out_ << " " << digestHex(verdict);
    out_ << "\n  signature: " << verdictText(verdict) << "\n";
  }

 private:
  void text(const std::string& indent, const char* label, const std::string& value) {
    if (!value.empty()) out_ << indent << label << ": " << printable(value) << "\n";
  }

  void list(const std::string& indent, const char* label, const std::vector<PackageRef>& refs,
            bool withPriority) {
    for (const PackageRef& ref : refs) {
      out_ << indent << label << ": " << printable(referenceText(ref, withPriority)) << "\n";
    }
  }

  std::ostream& out_;
};

// The header to show for the index-th package: the candidate scan's view
// (with its texts) when it reads the same package, else the installer's.
const PackageInfo& shownHeader(const ScannedHeaders& scanned, const StreamVerdict& verdict,
                               size_t index) {
  const PackageInfo& installed = verdict.packages[index].header;
  if (!scanned.header.isBundle) {
    return index == 0 && scanned.header.name == installed.name ? scanned.header : installed;
  }
  if (index < scanned.members.size() && scanned.members[index].name == installed.name) {
    return scanned.members[index];
  }
  return installed;
}

void printPackages(const ScannedHeaders& scanned, const StreamVerdict& verdict,
                   InfoPrinter& printer, std::ostream& out) {
  if (verdict.isBundle) {
    out << "bundle: " << printable(displayName(verdict.bundle)) << "\n";
    printer.header(scanned.header.isBundle ? scanned.header : verdict.bundle, "  ");
    printer.memberList(verdict.memberList);
    out << "  bundle signature: " << bundleVerdictText(verdict) << "\n";
  }
  for (size_t i = 0; i < verdict.packages.size(); ++i) {
    const PackageVerdict& package = verdict.packages[i];
    out << (verdict.isBundle ? "member: " : "package: ") << printable(displayName(package.header))
        << " (header at offset " << package.headerOffset << ")\n";
    printer.header(shownHeader(scanned, verdict, i), "  ");
    printer.verdict(package);
  }
}

int infoOne(const std::string& path, bool assumeSecure, const CommandContext& context) {
  InputFile input;
  std::string error;
  if (!input.open(path, &error)) return context.fail(error);
  PartListing listing = listParts(input.rewound(), input.size());
  InfoPrinter printer(context.out);
  printer.container(path, listing);
  std::vector<std::string> problems = containerProblems(listing);
  if (!listing.isPackageFile()) return context.fail(path + ": " + problems.front());
  ScannedHeaders scanned = scanHeaders(input.rewound());
  StreamVerdict verdict = verifyStream(input.rewound(), assumeSecure);
  printPackages(scanned, verdict, printer, context.out);
  problems.insert(problems.end(), verdict.problems.begin(), verdict.problems.end());
  for (const std::string& problem : problems) context.out << "problem: " << problem << "\n";
  return kExitSuccess;
}

int verifyOne(const std::string& path, bool assumeSecure, const CommandContext& context) {
  InputFile input;
  std::string error;
  if (!input.open(path, &error)) return context.fail(error);
  PartListing listing = listParts(input.rewound(), input.size());
  std::vector<std::string> problems = containerProblems(listing);
  if (!listing.isPackageFile()) {
    context.out << path << ": " << problems.front() << "\n";
    return kExitFailure;
  }
  StreamVerdict verdict = verifyStream(input.rewound(), assumeSecure);
  if (verdict.isBundle) {
    context.out << path << ": bundle " << printable(displayName(verdict.bundle)) << ": "
                << bundleVerdictText(verdict) << "\n";
  }
  for (const PackageVerdict& package : verdict.packages) {
    context.out << path << ": " << printable(displayName(package.header)) << ": "
                << verdictText(package) << "\n";
  }
  problems.insert(problems.end(), verdict.problems.begin(), verdict.problems.end());
  for (const std::string& problem : problems) context.out << path << ": " << problem << "\n";
  return problems.empty() && verdict.accepted() ? kExitSuccess : kExitFailure;
}

}  // namespace

int infoCommand(const CommandOptions& options, const CommandContext& context) {
  int status = kExitSuccess;
  for (size_t i = 0; i < options.operands.size(); ++i) {
    if (i > 0) context.out << "\n";
    if (infoOne(options.operands[i], options.assumeSecure, context) != kExitSuccess) {
      status = kExitFailure;
    }
  }
  return status;
}

int listCommand(const CommandOptions& options, const CommandContext& context) {
  int status = kExitSuccess;
  for (const std::string& path : options.operands) {
    InputFile input;
    std::string error;
    if (options.operands.size() > 1) context.out << path << ":\n";
    if (!input.open(path, &error) || !listContents(input.rewound(), context.out, &error)) {
      status = context.fail(error.compare(0, path.size(), path) == 0 ? error : path + ": " + error);
    }
  }
  return status;
}

int verifyCommand(const CommandOptions& options, const CommandContext& context) {
  int status = kExitSuccess;
  for (const std::string& path : options.operands) {
    if (verifyOne(path, options.assumeSecure, context) != kExitSuccess) status = kExitFailure;
  }
  return status;
}

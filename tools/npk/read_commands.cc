// `npk info`, `npk ls` and `npk verify`, as text or JSON.
#include <inttypes.h>
#include <stdio.h>

#include "command_context.h"
#include "json_writer.h"
#include "key_ring.h"
#include "commands.h"
#include "console/console.h"
#include "content_listing.h"
#include "description.h"
#include "file_io.h"
#include "package/package_reader.h"
#include "package_inspector.h"
#include "package_files.h"
#include "pdb/calendar.h"
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
  CalendarTime time = calendarTimeOf(seconds);
  char text[48];
  snprintf(text, sizeof text, "%04" PRId64 "-%02d-%02d %02d:%02d:%02d UTC", time.year, time.month,
           time.day, time.hour, time.minute, time.second);
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

  void verdict(const PackageVerdict& verdict, const SignatureLine& line) {
    out_ << "  digest: " << (verdict.digestIsSha256 ? "SHA-256" : "SHA-1");
    if (verdict.digestKnown) out_ << " " << digestHex(verdict);
    out_ << "\n  signature: " << line.text << "\n";
    for (const std::string& warning : verdict.warnings) out_ << "  warning: " << warning << "\n";
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
  std::vector<SignatureLine> lines = signatureLines(verdict);
  for (size_t i = 0; i < verdict.packages.size(); ++i) {
    const PackageVerdict& package = verdict.packages[i];
    out << (verdict.isBundle ? "member: " : "package: ") << printable(displayName(package.header))
        << " (header at offset " << package.headerOffset << ")\n";
    printer.header(shownHeader(scanned, verdict, i), "  ");
    printer.verdict(package, lines[i]);
  }
}

void addRefsJson(const char* name, const std::vector<PackageRef>& refs, bool withPriority,
                 JsonWriter* json) {
  json->key(name).beginArray();
  for (const PackageRef& ref : refs) {
    json->beginObject();
    json->key("name").value(ref.name);
    json->key("min");
    if (ref.minVersion != 0) json->value(versionText(ref.minVersion)); else json->null();
    json->key("max");
    if (ref.maxVersion != 0) json->value(versionText(ref.maxVersion)); else json->null();
    if (withPriority) json->key("priority").value(int64_t(ref.priority));
    json->endObject();
  }
  json->endArray();
}

void addHeaderJson(const PackageInfo& info, JsonWriter* json) {
  json->key("name").value(info.name);
  json->key("version").value(versionText(info.version));
  json->key("version_number").value(info.version);
  json->key("build_time").value(info.buildTime);
  json->key("header_flags").value(info.headerFlags);
  json->key("architecture").value(info.architecture);
  json->key("note").value(info.note);
  json->key("attribute2").value(info.attribute2);
  json->key("attribute24").value(info.attribute24);
  json->key("squashfs_image").value(info.squashfsImage);
  addRefsJson("depends", info.depends, false, json);
  addRefsJson("provides", info.provides, true, json);
  addRefsJson("conflicts", info.conflicts, false, json);
}

void addSignatureJson(const SignatureLine& line, JsonWriter* json) {
  json->beginObject();
  json->key("accepted").value(line.accepted);
  json->key("scheme");
  if (line.scheme.empty()) json->null(); else json->value(line.scheme);
  json->key("key");
  if (line.key.empty()) json->null(); else json->value(line.key);
  json->key("digest");
  if (line.digest.empty()) json->null(); else json->value(line.digest);
  json->key("verdict").value(line.text);
  json->endObject();
}

void addContainerJson(const std::string& path, const PartListing& listing, JsonWriter* json) {
  json->key("file").value(path);
  json->key("magic").value(listing.magic);
  json->key("size").value(listing.fileSize);
  json->key("total_size").value(listing.totalSize);
  json->key("parts").beginArray();
  for (const PartRecord& part : listing.parts) {
    json->beginObject();
    json->key("offset").value(part.offset);
    json->key("type").value(part.type);
    json->key("name").value(partTypeName(part.type));
    json->key("length").value(part.length);
    json->endObject();
  }
  json->endArray();
}

void addInfoJson(const ScannedHeaders& scanned, const StreamVerdict& verdict, JsonWriter* json) {
  json->key("bundle");
  if (verdict.isBundle) {
    json->beginObject();
    addHeaderJson(scanned.header.isBundle ? scanned.header : verdict.bundle, json);
    addRefsJson("members", verdict.memberList, false, json);
    json->key("signature");
    addSignatureJson(bundleSignatureLine(verdict), json);
    json->endObject();
  } else {
    json->null();
  }
  std::vector<SignatureLine> lines = signatureLines(verdict);
  json->key("packages").beginArray();
  for (size_t i = 0; i < verdict.packages.size(); ++i) {
    const PackageVerdict& package = verdict.packages[i];
    json->beginObject();
    json->key("role").value(lines[i].role);
    addHeaderJson(shownHeader(scanned, verdict, i), json);
    json->key("header_offset").value(package.headerOffset);
    json->key("digest");
    if (package.digestKnown) json->value(digestHex(package)); else json->null();
    json->key("signature");
    addSignatureJson(lines[i], json);
    json->key("warnings").strings(package.warnings);
    json->endObject();
  }
  json->endArray();
}

class InfoCommand {
 public:
  InfoCommand(const CommandOptions& options, const KeyRing& keys, const CommandContext& context)
      : options_(options), keys_(keys), context_(context) {}

  int run() {
    int status = kExitSuccess;
    if (options_.json) json_.beginObject().key("files").beginArray();
    for (size_t i = 0; i < options_.operands.size(); ++i) {
      if (i > 0 && !options_.json) context_.out << "\n";
      if (one(options_.operands[i]) != kExitSuccess) status = kExitFailure;
    }
    if (options_.json) context_.out << json_.endArray().endObject().text();
    return status;
  }

 private:
  int one(const std::string& path) {
    InputFile input;
    std::string error;
    if (!input.open(path, &error)) return context_.fail(error);
    PartListing listing = listParts(input.rewound(), input.size());
    std::vector<std::string> problems = containerProblems(listing);
    if (!listing.isPackageFile()) return context_.fail(path + ": " + problems.front());
    ScannedHeaders scanned = scanHeaders(input.rewound());
    StreamVerdict verdict = verifyStream(input.rewound(), options_.assumeSecure, keys_);
    problems.insert(problems.end(), verdict.problems.begin(), verdict.problems.end());
    if (options_.json) {
      json_.beginObject();
      addContainerJson(path, listing, &json_);
      addInfoJson(scanned, verdict, &json_);
      json_.key("problems").strings(problems).endObject();
      return kExitSuccess;
    }
    InfoPrinter printer(context_.out);
    printer.container(path, listing);
    printPackages(scanned, verdict, printer, context_.out);
    for (const std::string& problem : problems) context_.out << "problem: " << problem << "\n";
    return kExitSuccess;
  }

  const CommandOptions& options_;
  const KeyRing& keys_;
  const CommandContext& context_;
  JsonWriter json_;
};

class VerifyCommand {
 public:
  VerifyCommand(const CommandOptions& options, const KeyRing& keys, const CommandContext& context)
      : options_(options), keys_(keys), context_(context) {}

  int run() {
    bool accepted = true;
    if (options_.json) json_.beginObject().key("files").beginArray();
    for (const std::string& path : options_.operands) {
      if (!one(path)) accepted = false;
    }
    if (options_.json) {
      context_.out << json_.endArray().key("accepted").value(accepted).endObject().text();
    }
    return accepted ? kExitSuccess : kExitFailure;
  }

 private:
  bool one(const std::string& path) {
    InputFile input;
    std::string error;
    if (!input.open(path, &error)) {
      context_.fail(error);
      if (options_.json) fileJson(path, StreamVerdict(), {}, {error});
      return false;
    }
    PartListing listing = listParts(input.rewound(), input.size());
    std::vector<std::string> problems = containerProblems(listing);
    if (!listing.isPackageFile()) {
      if (options_.json) fileJson(path, StreamVerdict(), {}, {problems.front()});
      else context_.out << path << ": " << problems.front() << "\n";
      return false;
    }
    StreamVerdict verdict = verifyStream(input.rewound(), options_.assumeSecure, keys_);
    problems.insert(problems.end(), verdict.problems.begin(), verdict.problems.end());
    std::vector<SignatureLine> lines = signatureLines(verdict);
    bool accepted = problems.empty() && verdict.accepted();
    if (options_.json) {
      fileJson(path, verdict, lines, problems);
      return accepted;
    }
    if (verdict.isBundle) {
      context_.out << path << ": bundle " << printable(displayName(verdict.bundle)) << ": "
                   << bundleVerdictText(verdict) << "\n";
    }
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string subject = path + ": " + printable(displayName(*lines[i].subject)) + ": ";
      context_.out << subject << lines[i].text << "\n";
      for (const std::string& warning : verdict.packages[i].warnings) {
        context_.out << subject << "warning: " << warning << "\n";
      }
    }
    for (const std::string& problem : problems) context_.out << path << ": " << problem << "\n";
    return accepted;
  }

  void fileJson(const std::string& path, const StreamVerdict& verdict,
                const std::vector<SignatureLine>& lines, const std::vector<std::string>& problems) {
    json_.beginObject();
    json_.key("file").value(path);
    json_.key("accepted").value(problems.empty() && verdict.accepted());
    json_.key("signatures").beginArray();
    for (size_t i = 0; i < lines.size(); ++i) {
      json_.beginObject();
      json_.key("name").value(lines[i].subject->name);
      json_.key("version").value(versionText(lines[i].subject->version));
      json_.key("role").value(lines[i].role);
      json_.key("signature");
      addSignatureJson(lines[i], &json_);
      json_.key("warnings").strings(verdict.packages[i].warnings);
      json_.endObject();
    }
    json_.endArray();
    json_.key("bundle_signature");
    if (verdict.isBundle) addSignatureJson(bundleSignatureLine(verdict), &json_); else json_.null();
    json_.key("problems").strings(problems);
    json_.endObject();
  }

  const CommandOptions& options_;
  const KeyRing& keys_;
  const CommandContext& context_;
  JsonWriter json_;
};

}  // namespace

int infoCommand(const CommandOptions& options, const CommandContext& context) {
  KeyRing keys;
  std::string error;
  if (!keyRingFor(options.trustFiles, &keys, &error)) return context.fail(error);
  return InfoCommand(options, keys, context).run();
}

int listCommand(const CommandOptions& options, const CommandContext& context) {
  int status = kExitSuccess;
  JsonWriter json;
  if (options.json) json.beginObject().key("files").beginArray();
  for (const std::string& path : options.operands) {
    InputFile input;
    FileContents contents;
    std::string error;
    bool read = input.open(path, &error) &&
                readFileContents(input.rewound(), false, &contents, &error);
    if (!read && error.compare(0, path.size(), path) != 0) error = path + ": " + error;
    if (options.json) {
      json.beginObject().key("file").value(path);
      addListingJson(contents, options.digests, &json);
      json.key("error");
      if (read) json.null(); else json.value(error);
      json.endObject();
    } else {
      if (options.operands.size() > 1) context.out << path << ":\n";
      printListing(contents, options.digests, context.out);
    }
    if (!read) status = context.fail(error);
  }
  if (options.json) context.out << json.endArray().endObject().text();
  return status;
}

int verifyCommand(const CommandOptions& options, const CommandContext& context) {
  KeyRing keys;
  std::string error;
  if (!keyRingFor(options.trustFiles, &keys, &error)) return context.fail(error);
  return VerifyCommand(options, keys, context).run();
}

#include "package_diff.h"

#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>

#include "reference_text.h"

namespace {

std::vector<std::string> refLines(const std::vector<PackageRef>& refs, bool withPriority) {
  std::vector<std::string> lines;
  for (const PackageRef& ref : refs) lines.push_back(referenceText(ref, withPriority));
  return lines;
}

std::string imageText(const ImagePart& image) {
  if (!image.present) return std::string();
  return std::to_string(image.length) + " bytes, sha256 " + image.sha256;
}

// The fields of a package or bundle header, a line per list entry. The
// image of a standalone package is its "image" field.
std::vector<std::string> headerField(const PackageInfo& info, const std::string& name) {
  if (name == "name") return {info.name};
  if (name == "version") return {versionText(info.version)};
  if (name == "build-time") return {std::to_string(info.buildTime)};
  if (name == "architecture") return {info.architecture};
  if (name == "note") return {info.note};
  if (name == "flags") {
    char text[16];
    snprintf(text, sizeof text, "0x%08x", info.headerFlags);
    return {text};
  }
  if (name == "depends") return refLines(info.depends, false);
  if (name == "provides") return refLines(info.provides, true);
  if (name == "conflicts") return refLines(info.conflicts, false);
  return {};
}

bool isListField(const std::string& name) {
  return name == "depends" || name == "provides" || name == "conflicts" || name == "members";
}

const std::vector<std::string> kComparedFields = {"name",  "version",  "build-time",
                                                  "architecture", "note", "flags",
                                                  "depends", "provides", "conflicts"};

class Differ {
 public:
  explicit Differ(std::vector<Difference>* out) : out_(out) {}

  void header(const std::string& member, const PackageInfo& a, const PackageInfo& b) {
    for (const std::string& name : kComparedFields) {
      field(member, name, headerField(a, name), headerField(b, name));
    }
  }

  void field(const std::string& member, const std::string& name,
             const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a == b) return;
    if (!isListField(name)) {
      add(member, "field", "changed", name, a.empty() ? "" : a[0], b.empty() ? "" : b[0]);
      return;
    }
    for (const std::string& entry : a) {
      if (std::find(b.begin(), b.end(), entry) == b.end()) add(member, "field", "removed", name, entry, {});
    }
    for (const std::string& entry : b) {
      if (std::find(a.begin(), a.end(), entry) == a.end()) add(member, "field", "added", name, {}, entry);
    }
  }

  void image(const std::string& member, const ImagePart& a, const ImagePart& b) {
    if (a.present == b.present && a.sha256 == b.sha256 && a.length == b.length) return;
    const char* change = !a.present ? "added" : !b.present ? "removed" : "changed";
    std::optional<std::string> textA, textB;
    if (a.present) textA = imageText(a);
    if (b.present) textB = imageText(b);
    add(member, "field", change, "image", textA, textB);
  }

  void files(const std::string& member, const PackageFiles& a, const PackageFiles& b) {
    std::map<std::string, const TreeEntry*> inA, inB;
    for (const TreeEntry& entry : a.entries) inA[entry.path] = &entry;
    for (const TreeEntry& entry : b.entries) inB[entry.path] = &entry;
    std::set<std::string> paths;
    for (const auto& entry : inA) paths.insert(entry.first);
    for (const auto& entry : inB) paths.insert(entry.first);
    for (const std::string& path : paths) {
      auto left = inA.find(path), right = inB.find(path);
      Difference d{member, "file", "", path, {}, {}, {}, {}};
      if (left != inA.end()) d.fileA = *left->second;
      if (right != inB.end()) d.fileB = *right->second;
      if (!d.fileA) d.change = "added";
      else if (!d.fileB) d.change = "removed";
      else if (same(*d.fileA, *d.fileB)) continue;
      else d.change = "changed";
      out_->push_back(d);
    }
  }

  void package(const std::string& member, const PackageFiles& a, const PackageFiles& b) {
    header(member, a.header, b.header);
    image(member, a.image, b.image);
    files(member, a, b);
  }

  void add(const std::string& member, const char* kind, const char* change,
           const std::string& name, std::optional<std::string> a, std::optional<std::string> b) {
    out_->push_back(Difference{member, kind, change, name, a, b, {}, {}});
  }

 private:
  static bool same(const TreeEntry& a, const TreeEntry& b) {
    return a.mode == b.mode && a.skipByte == b.skipByte && a.size == b.size &&
           a.sha256 == b.sha256;
  }

  std::vector<Difference>* out_;
};

const PackageFiles* findMember(const FileContents& contents, const std::string& name) {
  for (const PackageFiles& package : contents.packages) {
    if (package.header.name == name) return &package;
  }
  return nullptr;
}

void diffBundles(const FileContents& a, const FileContents& b, Differ* differ) {
  differ->header("", a.bundle, b.bundle);
  differ->image("", a.bundleImage, b.bundleImage);
  differ->field("", "members", refLines(a.memberList, false), refLines(b.memberList, false));
  for (const PackageFiles& package : a.packages) {
    const PackageFiles* other = findMember(b, package.header.name);
    if (other == nullptr) {
      differ->add("", "member", "removed", package.header.name,
                  versionText(package.header.version), {});
    } else {
      differ->package(package.header.name, package, *other);
    }
  }
  for (const PackageFiles& package : b.packages) {
    if (findMember(a, package.header.name) == nullptr) {
      differ->add("", "member", "added", package.header.name, {},
                  versionText(package.header.version));
    }
  }
}

std::string quoted(const std::optional<std::string>& text) {
  return text ? "'" + *text + "'" : std::string("none");
}

std::string octal(uint16_t mode) {
  char text[16];
  snprintf(text, sizeof text, "%06o", unsigned(mode));
  return text;
}

// What changed about an entry: "content, 20 -> 24 bytes; mode 100755 -> 100644".
std::string entryChange(const TreeEntry& a, const TreeEntry& b) {
  std::vector<std::string> aspects;
  if (a.sha256 != b.sha256 || a.size != b.size) {
    aspects.push_back("content, " + std::to_string(a.size) + " -> " + std::to_string(b.size) +
                      " bytes");
  }
  if (a.mode != b.mode) aspects.push_back("mode " + octal(a.mode) + " -> " + octal(b.mode));
  if (a.skipByte != b.skipByte) {
    aspects.push_back(std::string("skip ") + (a.skipByte ? "yes" : "no") + " -> " +
                      (b.skipByte ? "yes" : "no"));
  }
  std::string text;
  for (const std::string& aspect : aspects) text += (text.empty() ? "" : "; ") + aspect;
  return text;
}

std::string differenceLine(const Difference& d) {
  std::string line = d.member.empty() ? std::string() : "member " + d.member + ": ";
  if (d.kind == "member") {
    return line + "member " + d.change + ": " + d.name + "-" + (d.a ? *d.a : *d.b);
  }
  if (d.kind == "field") {
    line += "field " + d.name + ": ";
    if (d.change == "changed") return line + quoted(d.a) + " -> " + quoted(d.b);
    return line + d.change + " " + quoted(d.change == "added" ? d.b : d.a);
  }
  line += "file " + d.change + ": " + d.name;
  if (d.change == "added") return line + " (" + std::to_string(d.fileB->size) + " bytes)";
  if (d.change == "removed") return line + " (" + std::to_string(d.fileA->size) + " bytes)";
  return line + " (" + entryChange(*d.fileA, *d.fileB) + ")";
}

void addEntryJson(const std::optional<TreeEntry>& entry, JsonWriter* json) {
  if (!entry) {
    json->null();
    return;
  }
  json->beginObject();
  json->key("mode").value(uint32_t(entry->mode));
  json->key("size").value(entry->size);
  json->key("skip").value(entry->skipByte != 0);
  json->key("sha256").value(entry->sha256);
  json->endObject();
}

void addTextJson(const std::optional<std::string>& text, JsonWriter* json) {
  if (text) json->value(*text); else json->null();
}

}  // namespace

std::vector<Difference> diffContents(const FileContents& a, const FileContents& b) {
  std::vector<Difference> differences;
  Differ differ(&differences);
  if (a.isBundle != b.isBundle) {
    differ.add("", "field", "changed", "kind", a.isBundle ? "bundle" : "package",
               b.isBundle ? "bundle" : "package");
    return differences;
  }
  if (a.isBundle) {
    diffBundles(a, b, &differ);
  } else if (!a.packages.empty() && !b.packages.empty()) {
    differ.package("", a.packages[0], b.packages[0]);
  }
  return differences;
}

void printDifferences(const std::vector<Difference>& differences, std::ostream& out) {
  for (const Difference& d : differences) out << differenceLine(d) << "\n";
}

void addDifferencesJson(const std::vector<Difference>& differences, JsonWriter* json) {
  json->beginArray();
  for (const Difference& d : differences) {
    json->beginObject();
    json->key("member");
    if (d.member.empty()) json->null(); else json->value(d.member);
    json->key("kind").value(d.kind);
    json->key("change").value(d.change);
    json->key(d.kind == "file" ? "path" : "name").value(d.name);
    json->key("a");
    if (d.kind == "file") addEntryJson(d.fileA, json); else addTextJson(d.a, json);
    json->key("b");
    if (d.kind == "file") addEntryJson(d.fileB, json); else addTextJson(d.b, json);
    json->endObject();
  }
  json->endArray();
}

const std::vector<std::string>& fieldNames() {
  static const std::vector<std::string> names = {"name",     "version",  "build-time",
                                                 "architecture", "note", "flags",
                                                 "depends",  "provides", "conflicts",
                                                 "members"};
  return names;
}

bool fieldLines(const FileContents& contents, const std::string& name,
                std::vector<std::string>* lines) {
  const std::vector<std::string>& names = fieldNames();
  if (std::find(names.begin(), names.end(), name) == names.end()) return false;
  if (name == "members") {
    *lines = refLines(contents.memberList, false);
    return true;
  }
  const PackageInfo* info = contents.isBundle ? &contents.bundle
                            : contents.packages.empty() ? nullptr
                                                        : &contents.packages[0].header;
  *lines = info != nullptr ? headerField(*info, name) : std::vector<std::string>();
  if (!isListField(name) && lines->size() == 1 && (*lines)[0].empty()) lines->clear();
  return true;
}

// Test support for the installation tests: signed package and bundle files
// built in memory with the package writer and the development keys of the
// repository's keys/ directory, which the default build trusts, and plain
// text views of a run's outcome. Header only; included by tests, never by
// the installer.
#ifndef PACKAGE_INSTALL_TESTING_H_
#define PACKAGE_INSTALL_TESTING_H_

#include <stdint.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "commit/change_set.h"
#include "package/package_writer.h"
#include "package/signer.h"
#include "package/trusted_keys.h"
#include "pdb/package_db.h"

namespace install_testing {

// One package as the tests describe it.
struct PackageSpec {
  PackageInfo info;
  std::vector<FileTreeEntry> files;
  bool withFileTree = true;
  // Content of a squashfs image part; none when empty.
  std::string image;
  // A signature that no key made.
  bool badSignature = false;
};

inline PackageSpec packageSpec(const std::string& name, PackageVersion version,
                               std::vector<FileTreeEntry> files = {}) {
  PackageSpec spec;
  spec.info.name = name;
  spec.info.version = version;
  spec.info.buildTime = 1700000000;
  spec.files = std::move(files);
  return spec;
}

inline FileTreeEntry fileEntry(const std::string& path, const std::string& data,
                               uint16_t mode = 0100644) {
  FileTreeEntry entry;
  entry.path = path;
  entry.data = data;
  entry.mode = mode;
  return entry;
}

// The repository's keys/ directory, found from this header's path.
inline std::string repositoryKeys() {
  std::string file = __FILE__;
  std::string tail = "tests/support/install_testing.h";
  if (file.size() < tail.size() || file.compare(file.size() - tail.size(), tail.size(), tail) != 0) {
    return std::string();
  }
  return file.substr(0, file.size() - tail.size()) + "keys/";
}

// True when packages signed here will be accepted by this build.
inline bool canSignTrustedPackages() {
  return trustsDevelopmentKeys() && !repositoryKeys().empty();
}

inline const PackageSigner& developmentSigner() {
  static PackageSigner* signer = [] {
    PackageSigner* made = new PackageSigner();
    std::string error;
    made->loadEd25519Key(repositoryKeys() + "dev-ed25519.pem", &error);
    made->loadLegacyKey(repositoryKeys() + "dev-legacy.key", &error);
    return made;
  }();
  return *signer;
}

inline std::string signatureFor(const PackageDigest& digest, bool bad) {
  std::string content, error;
  if (bad || !developmentSigner().sign(digest.bytes.data(), digest.sha256, &content, &error)) {
    return std::string(132, '\x5A');
  }
  return content;
}

// Appends the parts of one package: SHA-256 marker, header and descriptive
// parts, image, file tree and signature.
inline void appendPackage(PackageWriter& writer, const PackageSpec& spec) {
  writer.addSha256Marker();
  writer.addDescription(spec.info);
  if (!spec.image.empty()) writer.addPart(kPartSquashfsImage, spec.image);
  if (spec.withFileTree) writer.addFileTree(spec.files);
  bool bad = spec.badSignature;
  writer.addSignature(132, [bad](const PackageDigest& digest) { return signatureFor(digest, bad); });
}

inline std::string packageFile(const PackageSpec& spec, uint32_t magic = kPackageMagic) {
  PackageWriter writer(magic);
  appendPackage(writer, spec);
  return writer.bytes();
}

// A bundle file: the bundle header, an image part when `image` is not
// empty, a member list when `memberList` is not empty, then the members.
inline std::string bundleFile(const std::string& name, PackageVersion version,
                              const std::vector<PackageSpec>& members,
                              const std::vector<PackageRef>& memberList = {},
                              const std::string& image = std::string()) {
  PackageInfo bundle(name);
  bundle.version = version;
  bundle.buildTime = 1700000000;
  bundle.isBundle = true;
  PackageWriter writer;
  writer.addDescription(bundle);
  if (!image.empty()) writer.addPart(kPartSquashfsImage, image);
  if (!memberList.empty()) writer.addList(kPartBundleMembers, memberList);
  for (const PackageSpec& member : members) appendPackage(writer, member);
  return writer.bytes();
}

// Version a.b final, packed.
inline PackageVersion finalVersion(unsigned major, unsigned minor) {
  return (major << 24) | (minor << 16) | (0x66u << 8);
}

// The run's database, emptied and loaded from the current root. For a
// child process that runs in a test root.
inline PackageDb& freshDb() {
  PackageDb& db = PackageDb::instance();
  for (Package* package : db.packages) delete package;
  db.packages.clear();
  db.messages.clear();
  db.progressLine.clear();
  db.openRepository(false, "i386");
  return db;
}

inline std::string fileContent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// One line per entry: "S target mode content" for staged files, "U target"
// for removals, "M target" and "L target" for the others.
inline std::string describe(const ChangeSet& changes) {
  std::ostringstream out;
  for (const auto& entry : changes) {
    const ChangeAction& action = entry.second;
    switch (action.kind) {
      case ChangeKind::MoveStaged: {
        struct stat st = {};
        stat(action.source.c_str(), &st);
        out << "S " << entry.first << " " << std::oct << (st.st_mode & 07777) << std::dec << " "
            << fileContent(action.source) << "\n";
        break;
      }
      case ChangeKind::Remove:
        out << "U " << entry.first << "\n";
        break;
      case ChangeKind::Symlink:
        out << "L " << entry.first << "\n";
        break;
      case ChangeKind::Move:
        out << "M " << entry.first << "\n";
        break;
    }
  }
  return out.str();
}

inline std::string messages(const PackageDb& db) {
  std::string text;
  for (const std::string& line : db.messages) text += line + "\n";
  return text;
}

// The names in db.packages, each followed by a blank ("" for placeholders).
inline std::string names(const PackageDb& db) {
  std::string text;
  for (const Package* package : db.packages) text += package->name + " ";
  return text;
}

}  // namespace install_testing

#endif  // PACKAGE_INSTALL_TESTING_H_

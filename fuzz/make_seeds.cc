// Writes the starting corpus of every fuzz target, one directory per
// target below the given directory, built with the project's own package
// writer (and signer, when the development keys are found in the given
// key directory): well-formed packages and bundles of every shape, file
// trees, manifests, database entries, schedules and settings.
//   make_seeds OUTPUT_DIR [KEY_DIR]
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/signer.h"

namespace {

PackageSigner signer;
bool haveKeys = false;

std::string signatureFor(const PackageDigest& digest) {
  std::string content, error;
  if (haveKeys && signer.sign(digest.bytes.data(), digest.sha256, &content, &error)) return content;
  return std::string(132, 'S');
}

PackageInfo info(const std::string& name, PackageVersion version) {
  PackageInfo made(name);
  made.version = version;
  made.buildTime = 1700000000;
  return made;
}

std::vector<FileTreeEntry> sampleTree() {
  std::vector<FileTreeEntry> entries(4);
  entries[0].path = "/bin";
  entries[0].mode = 040755;
  entries[1].path = "/bin/tool";
  entries[1].data = "#!/bin/sh\necho tool\n";
  entries[1].mode = 0100755;
  entries[2].path = "etc/tool.conf";
  entries[2].data = std::string(300, 'c');
  entries[3].path = "/bin/skipped";
  entries[3].skipByte = 1;
  entries[3].data = "x";
  return entries;
}

void appendPackage(PackageWriter& writer, const PackageInfo& package, bool image, bool tree) {
  writer.addSha256Marker();
  writer.addDescription(package);
  if (image) writer.addPart(kPartSquashfsImage, "hsqs" + std::string(60, 'i'));
  if (tree) writer.addFileTree(sampleTree());
  writer.addSignature(132, signatureFor);
}

std::string standalone(const PackageInfo& package, bool image, bool trailer,
                       uint32_t magic = kPackageMagic) {
  PackageWriter writer(magic);
  appendPackage(writer, package, image, true);
  if (trailer) {
    writer.addPart(kPartArchitecture, "i386");
    writer.addPart(kPartDependencies, "");
  }
  return writer.bytes();
}

std::string bundle() {
  PackageWriter writer;
  PackageInfo header = info("base", 0x07016600);
  header.isBundle = true;
  header.note = "a bundle";
  writer.addDescription(header);
  writer.addPart(kPartSquashfsImage, "hsqs" + std::string(60, 'b'));
  writer.addList(kPartBundleMembers, {PackageRef("a", 0x07016600, 0x07016600),
                                      PackageRef("b", 0x07016600, 0x07016600)});
  appendPackage(writer, info("a", 0x07016600), false, true);
  appendPackage(writer, info("b", 0x07016600), true, false);
  writer.addPart(kPartArchitecture, "i386");
  writer.addPart(kPartBundleSignature, std::string(132, 'B'));
  return writer.bytes();
}

PackageInfo richInfo() {
  PackageInfo rich = info("tool", 0x07016600);
  rich.architecture = "i386";
  rich.note = "a note";
  rich.attribute2 = "two";
  rich.attribute24 = "twenty-four";
  rich.depends = {PackageRef("system", 0x07000000, 0)};
  rich.provides = {PackageRef("ipv6", 0, 0, -1)};
  rich.conflicts = {PackageRef("old", 0, 0x06000000)};
  return rich;
}

std::vector<std::string> packages() {
  PackageInfo system6 = info("system", 0x06316600);
  PackageInfo branding = info("branding", 0x07016600);
  PackageInfo boot = info("kernel", 0x07016600);
  boot.headerFlags = PackageInfo::bootImageFlag;
  return {standalone(richInfo(), false, true), standalone(info("tool", 0x07026600), true, false),
          standalone(system6, false, false), standalone(branding, true, false),
          standalone(boot, true, false), standalone(info("free", 1), false, false, kUnrecordedMagic),
          bundle()};
}

void writeSeed(const std::string& dir, int index, const std::string& bytes) {
  mkdir(dir.c_str(), 0755);
  std::string path = dir + "/seed" + std::to_string(index);
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

void writeAll(const std::string& dir, const std::vector<std::string>& seeds) {
  for (size_t i = 0; i < seeds.size(); ++i) writeSeed(dir, static_cast<int>(i), seeds[i]);
}

std::string joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (size_t i = 0; i < pieces.size(); ++i) all += (i ? "@@\n" : "") + pieces[i];
  return all;
}

// Inputs of the inflater target: a flags byte, a piece size, a read
// pattern, then the payload, compressed first where flags bit 0 says so.
std::vector<std::string> inflaterSeeds() {
  std::string text;
  for (int line = 0; text.size() < 150000; ++line) text += "/bin/tool line " + std::to_string(line) + "\n";
  std::string noise(70000, '\0');
  uint32_t seed = 7;
  for (char& byte : noise) byte = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  std::string tree = encodeFileTree(sampleTree());
  auto seedOf = [](uint8_t flags, uint8_t piece, const std::string& payload) {
    return std::string(1, static_cast<char>(flags)) + static_cast<char>(piece) + '\x05' + payload;
  };
  return {seedOf(0, 0xFF, zlibCompress(tree)),
          seedOf(0, 3, zlibCompress(text.substr(0, 40000))),
          seedOf(0, 0xFF, zlibCompress("")),
          seedOf(1 | 6 << 1, 0xA0, text),
          seedOf(1 | 1 << 1, 0x10, text.substr(0, 50000) + noise),
          seedOf(1 | 0 << 1, 0x40, noise),
          seedOf(1 | 9 << 1 | 1 << 5, 0xFF, text),
          seedOf(1 | 6 << 1 | 2 << 5, 0x22, text),
          seedOf(1 | 6 << 1 | 3 << 5, 0xFF, tree)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: make_seeds OUTPUT_DIR [KEY_DIR]\n");
    return 2;
  }
  std::string out = argv[1];
  mkdir(out.c_str(), 0755);
  if (argc > 2) {
    std::string error, keys = argv[2];
    haveKeys = signer.loadEd25519Key(keys + "/dev-ed25519.pem", &error) &&
               signer.loadLegacyKey(keys + "/dev-legacy.key", &error);
  }
  std::vector<std::string> all = packages();
  writeAll(out + "/package_reader", all);
  std::vector<std::string> withOptions;
  for (const std::string& package : all) {
    withOptions.push_back(std::string(1, '\0') + package);
    withOptions.push_back(std::string(1, '\x3A') + package);
  }
  writeAll(out + "/install_package", withOptions);
  writeAll(out + "/file_tree", {std::string(1, '\0') + fileContainer(sampleTree()),
                                std::string(1, '\1') + encodeFileTree(sampleTree())});
  writeAll(out + "/inflater", inflaterSeeds());
  writeAll(out + "/manifest", {"U /flash/old\nM /flash/bin/tool /flash/tmpAAAAAA\n"
                               "L /flash/var/pdb/k/image /flash/bootimage\n\nU /after\n",
                               "M /flash/a\n"});
  std::string image = standalone(richInfo(), true, false);
  writeAll(out + "/database",
           {joined({"117532160 1700000000\n", "system 117440512 0\n", "ipv6 0 0 -1\n",
                    "old 0 100663296\n", "", "flash/bin/tool\nflash/etc/tool.conf\n", "auto\n",
                    "", "", "", "enable\n", bundle()}),
            joined({"", "", "", "", "", "", "", "", image, image, "uninstall\n", ""})});
  writeAll(out + "/schedule", {std::string("\x08\x00\x02\x04\x00\x09\x00\x00\x01\x00\x00\x00\x00\x00\x00", 15),
                               std::string("\x09\x00\x00\x1e\x00\x09\x00\x00\x1d\x00\x09\x00\x00\x1b\x00"
                                           "\x09\x00\x00\x17\x00\x09\x00\x00\x0f\x00", 25)});
  writeAll(out + "/settings", {"unrestricted 1\nflagged 0\nmin-version 0x07000000\n"
                               "safe 0x07000000 0x07ffffff 0 4294967295\n# comment\n",
                               "flagged 1\nsafe 1 2\n"});
  return 0;
}

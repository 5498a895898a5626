// Writes the hostile inputs the hostile-input benchmark feeds the
// installer, built with the project's package writer and signed with the
// development keys of KEY_DIR (tampered ones carry a signature no key
// made):
//   bomb.npk      tampered, one file that inflates to BOMB_MIB MiB
//   entries.npk   tampered, 50,000 empty files
//   deep.npk      tampered, 100 files with 32,000-component paths
//   note.npk      a 100 MiB note part
//   provides.npk  signed, provides 65,535 names
//   bundle.npk    signed bundle image of 10,000 members (kept image)
//   hostile_inputs OUTPUT_DIR KEY_DIR [BOMB_MIB]
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/signer.h"

namespace {

PackageSigner signer;

SignatureMaker maker(bool tampered) {
  return [tampered](const PackageDigest& digest) {
    std::string content, error;
    if (tampered || !signer.sign(digest.bytes.data(), digest.sha256, &content, &error)) {
      return std::string(132, 'T');
    }
    return content;
  };
}

PackageInfo info(const std::string& name) {
  PackageInfo made(name);
  made.version = 0x07016600;
  made.buildTime = 1700000000;
  return made;
}

std::string package(const PackageInfo& header, const std::vector<FileTreeEntry>& tree, bool tampered) {
  PackageWriter writer;
  writer.addSha256Marker();
  writer.addDescription(header);
  writer.addFileTree(tree);
  writer.addSignature(132, maker(tampered));
  return writer.bytes();
}

FileTreeEntry file(const std::string& path, std::string data) {
  FileTreeEntry entry;
  entry.path = path;
  entry.data = std::move(data);
  return entry;
}

bool save(const std::string& path, const std::string& bytes) {
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return fclose(out) == 0 && ok;
}

std::string bundleOfMembers(size_t count) {
  PackageWriter writer;
  PackageInfo header = info("big");
  header.isBundle = true;
  writer.addDescription(header);
  writer.addPart(kPartSquashfsImage, "hsqs");
  for (size_t i = 0; i < count; ++i) {
    writer.addDescription(info("m" + std::to_string(i)));
    writer.addSignature(132, maker(true));
  }
  return writer.bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: hostile_inputs OUTPUT_DIR KEY_DIR [BOMB_MIB]\n");
    return 2;
  }
  std::string out = std::string(argv[1]) + "/", keys = argv[2], error;
  if (!signer.loadEd25519Key(keys + "/dev-ed25519.pem", &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  size_t bombMib = argc > 3 ? strtoul(argv[3], nullptr, 10) : 1024;
  bool ok = save(out + "bomb.npk", package(info("tool"), {file("/bin/bomb", std::string(bombMib << 20, '\0'))}, true));

  std::vector<FileTreeEntry> many;
  for (int i = 0; i < 50000; ++i) many.push_back(file("/e/" + std::to_string(i), ""));
  ok = ok && save(out + "entries.npk", package(info("tool"), many, true));

  std::string deepPath;
  for (int i = 0; i < 32000; ++i) deepPath += "a/";
  std::vector<FileTreeEntry> deep;
  for (int i = 0; i < 100; ++i) deep.push_back(file(deepPath + std::to_string(i), "d"));
  ok = ok && save(out + "deep.npk", package(info("tool"), deep, true));

  PackageInfo noted = info("tool");
  noted.note = std::string(100u << 20, 'n');
  ok = ok && save(out + "note.npk", package(noted, {}, true));

  PackageInfo provider = info("names");
  for (int i = 0; i < 65535; ++i) provider.provides.push_back(PackageRef("n" + std::to_string(i), 0, 0, 0));
  ok = ok && save(out + "provides.npk", package(provider, {}, false));

  ok = ok && save(out + "bundle.npk", bundleOfMembers(10000));
  return ok ? 0 : 1;
}

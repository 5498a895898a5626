#include "package_builder.h"

#include "package/signature.h"

namespace {

const size_t kFileHeaderSize = 8;
const uint64_t kMaxLengthWord = 0xFFFFFFFFull;

bool addSignature(const PackageSigner& signer, PackageWriter* writer, std::string* error) {
  uint32_t length = signer.hasEd25519Key() ? kFullSignatureSize : kLegacySignatureSize;
  PackageDigest digest = writer->digestBeforeSignature(length);
  std::string content;
  if (!signer.sign(digest.bytes.data(), digest.sha256, &content, error)) return false;
  if (content.size() != length) {
    *error = "the signer made " + std::to_string(content.size()) + " bytes instead of " +
             std::to_string(length);
    return false;
  }
  writer->addPart(kPartSignature, content);
  return true;
}

}  // namespace

bool buildPackage(const PackageDescription& description, const PackageContents& contents,
                  const PackageSigner* signer, std::string* file, std::string* error) {
  PackageWriter writer(description.unrecorded ? kUnrecordedMagic : kPackageMagic);
  if (description.sha256) writer.addSha256Marker();
  PackageInfo header = description.info;
  header.isBundle = false;
  writer.addDescription(header);
  if (contents.hasImage) writer.addPart(kPartSquashfsImage, contents.image);
  if (contents.hasTree) writer.addFileTree(contents.tree);
  if (signer != nullptr && !addSignature(*signer, &writer, error)) return false;
  *file = writer.bytes();
  if (file->size() - kFileHeaderSize > kMaxLengthWord) {
    *error = "the package would be larger than the file header can describe (4 GiB)";
    return false;
  }
  return true;
}

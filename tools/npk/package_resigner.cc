#include "package_resigner.h"

#include <sstream>
#include <vector>

#include "package/package_reader.h"
#include "package/signature.h"
#include "part_listing.h"

namespace {

const size_t kFileHeaderSize = 8;
const size_t kPartHeaderSize = 6;

void putWord(std::string* bytes, size_t at, uint32_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) (*bytes)[at + i] = char((value >> (8 * i)) & 0xFF);
}

std::string partHeader(int type, uint32_t length) {
  std::string header(kPartHeaderSize, '\0');
  putWord(&header, 0, uint32_t(type), 2);
  putWord(&header, 2, length, 4);
  return header;
}

// Indexes of the signature parts to renew: the first type-9 part after
// each package header.
std::vector<size_t> packageSignatures(const PartListing& listing) {
  std::vector<size_t> signatures;
  bool inPackage = false;
  for (size_t i = 0; i < listing.parts.size(); ++i) {
    int type = listing.parts[i].type;
    if (type == kPartPackageHeader) inPackage = true;
    if (type == kPartSignature && inPackage) {
      signatures.push_back(i);
      inPackage = false;
    }
  }
  return signatures;
}

// The file with each renewed signature part resized to `length` and
// zero-filled; *offsets receives where each part's content begins.
std::string withBlankSignatures(const std::string& file, const PartListing& listing,
                                const std::vector<size_t>& signatures, uint32_t length,
                                std::vector<size_t>* offsets) {
  std::string out = file.substr(0, kFileHeaderSize);
  size_t next = 0;
  for (size_t i = 0; i < listing.parts.size(); ++i) {
    const PartRecord& part = listing.parts[i];
    if (next < signatures.size() && signatures[next] == i) {
      out += partHeader(kPartSignature, length);
      offsets->push_back(out.size());
      out += std::string(length, '\0');
      ++next;
    } else {
      out.append(file, size_t(part.offset), size_t(part.end() - part.offset));
    }
  }
  putWord(&out, 4, uint32_t(out.size() - kFileHeaderSize), 4);
  return out;
}

}  // namespace

bool resignFile(const std::string& file, const PackageSigner& signer, std::string* resigned,
                size_t* count, std::string* error) {
  std::stringbuf source(file, std::ios::in);
  PartListing listing = listParts(&source, file.size());
  std::vector<std::string> problems = containerProblems(listing);
  if (!problems.empty()) {
    *error = problems.front();
    return false;
  }
  std::vector<size_t> signatures = packageSignatures(listing);
  if (signatures.empty()) {
    *error = "no package in the file has a signature part to renew";
    return false;
  }
  uint32_t length = signer.hasEd25519Key() ? kFullSignatureSize : kLegacySignatureSize;
  std::vector<size_t> offsets;
  std::string out = withBlankSignatures(file, listing, signatures, length, &offsets);
  // 64-bit on every CPU: on 32-bit ones the test would be always false.
  uint64_t size = out.size();
  if (size - kFileHeaderSize > 0xFFFFFFFFull) {
    *error = "the file would be larger than the file header can describe (4 GiB)";
    return false;
  }
  // The digests do not depend on signature contents, so they can be read
  // from the blank file and the signatures filled in afterwards.
  std::stringbuf blank(out, std::ios::in);
  PackageReader reader(&blank, true, nullptr);
  reader.wantedTypes = {kPartSignature};
  size_t next = 0;
  std::string filled = out;
  while (reader.nextPart() == kPartSignature && next < offsets.size()) {
    if (reader.partOffset() != offsets[next]) continue;
    const uint8_t* digest = reader.finishDigest();
    std::string content;
    if (!signer.sign(digest, reader.digestIsSha256(), &content, error)) return false;
    filled.replace(offsets[next], length, content, 0, length);
    ++next;
  }
  if (next != offsets.size()) {
    *error = "a signature part could not be reached";
    return false;
  }
  *resigned = filled;
  *count = next;
  return true;
}

#include "bundle_builder.h"

#include <set>
#include <sstream>

#include "package/package_reader.h"
#include "package/package_writer.h"
#include "package/signature.h"
#include "part_listing.h"

namespace {

const size_t kFileHeaderSize = 8;
const uint64_t kMaxLengthWord = 0xFFFFFFFFull;

size_t findPart(const PartListing& listing, int type, size_t from) {
  for (size_t i = from; i < listing.parts.size(); ++i) {
    if (listing.parts[i].type == type) return i;
  }
  return listing.parts.size();
}

// The parts after the signature may only be the standalone trailer: one
// architecture part, then one empty dependencies part.
bool onlyStandaloneTrailer(const PartListing& listing, size_t signature) {
  size_t i = signature + 1;
  if (i < listing.parts.size() && listing.parts[i].type == kPartArchitecture) ++i;
  if (i < listing.parts.size() && listing.parts[i].type == kPartDependencies &&
      listing.parts[i].length == 0) {
    ++i;
  }
  return i == listing.parts.size();
}

// Checks where the header and the signature lie; sets `header` and
// `signature` to their part indexes.
bool locateParts(const PartListing& listing, size_t* header, size_t* signature,
                 std::string* error) {
  if (findPart(listing, kPartBundleHeader, 0) < listing.parts.size()) {
    *error = "a bundle cannot be a member of a bundle";
    return false;
  }
  *header = findPart(listing, kPartPackageHeader, 0);
  if (*header == listing.parts.size()) {
    *error = "no package header";
    return false;
  }
  for (size_t i = 0; i < *header; ++i) {
    if (listing.parts[i].type == kPartSha256Marker) continue;
    *error = "a part of type " + std::to_string(listing.parts[i].type) +
             " before the package header";
    return false;
  }
  *signature = findPart(listing, kPartSignature, *header);
  if (*signature == listing.parts.size()) {
    *error = "no signature part; a bundle member must be signed";
    return false;
  }
  if (findPart(listing, kPartPackageHeader, *header + 1) < *signature) {
    *error = "a second package header before the signature";
    return false;
  }
  if (!onlyStandaloneTrailer(listing, *signature)) {
    *error = "parts after the signature part";
    return false;
  }
  return true;
}

bool readMemberHeader(const std::string& file, PackageInfo* header) {
  std::stringbuf source(file, std::ios::in);
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {kPartPackageHeader, kPartAttribute24, kPartArchitecture,
                        kPartAttribute2,    kPartNote,        kPartDependencies,
                        kPartProvides,      kPartConflicts,   kPartSquashfsImage};
  return reader.nextPart() == kPartPackageHeader && readPackageHeader(*header, reader);
}

bool checkMembers(const PackageDescription& description, const std::vector<BundleMember>& members,
                  std::string* error) {
  if (members.empty()) {
    *error = "a bundle needs at least one member";
    return false;
  }
  std::set<std::string> names;
  const BundleMember* markerMember = nullptr;
  for (const BundleMember& member : members) {
    if (member.header.name == description.info.name) {
      *error = member.path + ": a member cannot bear the bundle's name '" + member.header.name + "'";
      return false;
    }
    if (!names.insert(member.header.name).second) {
      *error = member.path + ": a second member named '" + member.header.name + "'";
      return false;
    }
    if (markerMember != nullptr && !member.leadingMarker) {
      *error = member.path +
               (member.marker ? ": has its SHA-256 marker after its header"
                              : ": has no SHA-256 marker") +
               " but would follow " + markerMember->path +
               ", which has one; the digest stays SHA-256 after a marker, so this member would "
               "not verify (put the members without the marker first)";
      return false;
    }
    if (member.marker && markerMember == nullptr) markerMember = &member;
  }
  return true;
}

void collectWarnings(const PackageDescription& description, const std::string* image,
                     const std::vector<BundleMember>& members, std::vector<std::string>* warnings) {
  if (image == nullptr) {
    warnings->push_back(
        "the bundle has no squashfs image part; the installer recognises a bundle's members on "
        "later runs only through the bundle's kept image");
  }
  const std::string& architecture = description.info.architecture;
  for (const BundleMember& member : members) {
    if (architecture.empty() || member.header.architecture == architecture) continue;
    warnings->push_back(member.path + ": the member is built for " + member.header.architecture +
                        ", the bundle for " + architecture);
  }
}

}  // namespace

bool takeBundleMember(const std::string& path, const std::string& file, BundleMember* member,
                      std::string* error) {
  std::stringbuf source(file, std::ios::in);
  PartListing listing = listParts(&source, file.size());
  std::vector<std::string> problems = containerProblems(listing);
  if (!problems.empty()) {
    *error = problems.front();
    return false;
  }
  size_t header, signature;
  if (!locateParts(listing, &header, &signature, error)) return false;
  member->path = path;
  member->header = PackageInfo();
  if (!readMemberHeader(file, &member->header)) {
    *error = "the package header cannot be read";
    return false;
  }
  uint64_t start = listing.parts.front().offset;
  member->bytes = file.substr(size_t(start), size_t(listing.parts[signature].end() - start));
  member->leadingMarker = header > 0;
  member->marker = findPart(listing, kPartSha256Marker, 0) < listing.parts.size();
  member->ed25519Signature = member->marker && listing.parts[signature].length >= kFullSignatureSize;
  return true;
}

bool buildBundle(const PackageDescription& description, const std::string* image,
                 const std::vector<BundleMember>& members, std::string* file,
                 std::vector<std::string>* warnings, std::string* error) {
  if (!checkMembers(description, members, error)) return false;
  collectWarnings(description, image, members, warnings);
  PackageWriter writer(description.unrecorded ? kUnrecordedMagic : kPackageMagic);
  PackageInfo header = description.info;
  header.isBundle = true;
  writer.addDescription(header);
  if (image != nullptr) writer.addPart(kPartSquashfsImage, *image);
  std::vector<PackageRef> list;
  for (const BundleMember& member : members) {
    list.emplace_back(member.header.name, member.header.version, member.header.version);
  }
  writer.addList(kPartBundleMembers, list);
  for (const BundleMember& member : members) writer.addRaw(member.bytes);
  if (!description.trailingArchitecture.empty()) {
    writer.addPart(kPartArchitecture, description.trailingArchitecture);
  }
  *file = writer.bytes();
  if (file->size() - kFileHeaderSize > kMaxLengthWord) {
    *error = "the bundle would be larger than the file header can describe (4 GiB)";
    return false;
  }
  return true;
}

bool signBundle(const PackageSigner& signer, std::string* file, std::string* error) {
  std::stringbuf source(*file, std::ios::in);
  PackageReader reader(&source, true, nullptr);
  reader.nextPart();  // no wanted types: reads to the end, digesting
  const uint8_t* digest = reader.bundleDigest();
  if (digest == nullptr) {
    *error = "the file is no bundle to sign";
    return false;
  }
  std::string content;
  if (!signer.sign(digest, true, &content, error)) return false;
  PackageWriter writer(reader.magic());
  writer.addRaw(file->substr(kFileHeaderSize));
  writer.addPart(kPartBundleSignature, content);
  if (writer.bytes().size() - kFileHeaderSize > kMaxLengthWord) {
    *error = "the bundle would be larger than the file header can describe (4 GiB)";
    return false;
  }
  *file = writer.bytes();
  return true;
}

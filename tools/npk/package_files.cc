#include "package_files.h"

#include <algorithm>

#include "file_tree.h"

#include "package/content_stream.h"
#include "package/package_reader.h"
#include "package/signer.h"
#include "platform/sha.h"

namespace {

const size_t kChunk = 16384;
// Link targets are kept up to this length; longer ones are not links the
// installer's system would make.
const uint32_t kMaxLinkTarget = 4096;

std::string hexDigest(SHA256& hash) {
  TrustedKey digest;
  hash.finish(digest.data());
  return keyHex(digest);
}

class ContentsReader {
 public:
  ContentsReader(std::streambuf* source, bool keepData, FileContents* contents)
      : reader_(source, false, nullptr), keepData_(keepData), contents_(contents) {
    reader_.wantedTypes = {kPartBundleHeader,  kPartPackageHeader, kPartAttribute24,
                           kPartArchitecture,  kPartAttribute2,    kPartNote,
                           kPartDependencies,  kPartProvides,      kPartConflicts,
                           kPartSquashfsImage, kPartFileContainer, kPartBundleMembers};
  }

  bool run(std::string* error) {
    if (reader_.fail()) return fail("not a package file", error);
    int type = reader_.nextPart();
    if (type != kPartBundleHeader && type != kPartPackageHeader) {
      return fail("no package or bundle header", error);
    }
    while (type >= 0) {
      if (!step(type, error)) return false;
      type = reader_.currentType();
    }
    return true;
  }

 private:
  bool fail(const std::string& text, std::string* error) {
    *error = text;
    return false;
  }

  // Handles the current part and moves on.
  bool step(int type, std::string* error) {
    switch (type) {
      case kPartBundleHeader:
      case kPartPackageHeader:
        return header(type, error);
      case kPartBundleMembers:
        if (!readPackageList(reader_, contents_->memberList)) {
          return fail("the member list is cut short", error);
        }
        break;
      case kPartSquashfsImage:
        if (!image(current() ? &current()->image : &contents_->bundleImage)) {
          return fail("the squashfs image part is cut short", error);
        }
        break;
      case kPartFileContainer:
        if (current() != nullptr && !tree(current(), error)) return false;
        break;
      default:
        break;
    }
    reader_.nextPart();
    return true;
  }

  PackageFiles* current() {
    return contents_->packages.empty() ? nullptr : &contents_->packages.back();
  }

  bool header(int type, std::string* error) {
    PackageInfo info;
    if (!readPackageHeader(info, reader_)) {
      return fail("the header at offset " + std::to_string(reader_.partOffset() - 6) +
                      " cannot be read",
                  error);
    }
    if (type == kPartBundleHeader) {
      contents_->isBundle = true;
      contents_->bundle = info;
    } else {
      contents_->packages.emplace_back();
      contents_->packages.back().header = info;
    }
    // readPackageHeader stops on the part after the header.
    if (reader_.currentType() >= 0 && reader_.currentType() != type) {
      return step(reader_.currentType(), error);
    }
    return true;
  }

  bool image(ImagePart* part) {
    part->present = true;
    part->length = reader_.partLength();
    SHA256 hash;
    char chunk[kChunk];
    for (uint32_t left = part->length; left > 0;) {
      size_t n = std::min<size_t>(sizeof chunk, left);
      if (!reader_.read(chunk, std::streamsize(n))) return false;
      hash.update(chunk, n);
      if (keepData_) part->bytes.append(chunk, n);
      left -= uint32_t(n);
    }
    part->sha256 = hexDigest(hash);
    return true;
  }

  bool tree(PackageFiles* package, std::string* error) {
    package->hasTree = true;
    ContentWalker walker(reader_);
    ContentEntry entry;
    for (;;) {
      WalkStep step = walker.next(&entry);
      if (step == WalkStep::kEnd) return true;
      if (step == WalkStep::kBroken) return fail(brokenTreeFault(walker), error);
      TreeEntry record;
      record.mode = entry.mode;
      record.skipByte = entry.skipByte;
      record.path = entry.path;
      record.size = entry.dataLength;
      if (!entryData(walker, &record)) {
        package->entries.push_back(record);
        return fail("the file tree is broken: the data of '" + entry.path + "' ends early",
                    error);
      }
      package->entries.push_back(record);
    }
  }

  bool entryData(ContentWalker& walker, TreeEntry* record) {
    bool keep = keepData_ || (record->isLink() && record->size <= kMaxLinkTarget);
    SHA256 hash;
    char chunk[kChunk];
    while (walker.dataUnread() > 0) {
      size_t n = std::min<size_t>(sizeof chunk, walker.dataUnread());
      if (!walker.readData(chunk, n)) return false;
      hash.update(chunk, n);
      if (keep) record->data.append(chunk, n);
    }
    record->sha256 = hexDigest(hash);
    return true;
  }

  PackageReader reader_;
  bool keepData_;
  FileContents* contents_;
};

}  // namespace

bool readFileContents(std::streambuf* source, bool keepData, FileContents* contents,
                      std::string* error) {
  *contents = FileContents();
  return ContentsReader(source, keepData, contents).run(error);
}

std::string contentLabel(const PackageFiles& package) {
  return package.header.name + "-" + versionText(package.header.version);
}

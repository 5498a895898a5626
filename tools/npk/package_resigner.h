// `npk resign`: gives every package of a package or bundle file a new
// signature. The signature part of a package is the first type-9 part
// after its header; its content is replaced by a new signature over the
// package's digest, which covers every byte from the package header up
// to and including the signature part's own header. Every byte the
// digests cover stays as it was, except the signature part's length word
// when the new signature has another size (132 bytes with an Ed25519 key,
// 68 with a legacy key alone); the file header's length word follows.
// A bundle's own signature, which covers the member signatures, is made
// anew last (bundle_builder.h) when the bundle has one.
// Nothing else of the file changes.
#ifndef NPK_PACKAGE_RESIGNER_H_
#define NPK_PACKAGE_RESIGNER_H_

#include <string>

#include "package/signer.h"

// `file` is the whole file. False with *error when the container is not
// sound, no package has a signature part, or the signer refuses (such as
// an Ed25519 key alone for a package with a SHA-1 digest). *count is the
// number of signatures made.
bool resignFile(const std::string& file, const PackageSigner& signer, std::string* resigned,
                size_t* count, std::string* error);

#endif  // NPK_PACKAGE_RESIGNER_H_

// The squashfs image part of a package: made from a directory by the
// mksquashfs program (squashfs-tools), found on PATH. The image is built
// in a private temporary directory that is removed afterwards, with every
// file owned by root (-all-root) and no progress output.
#ifndef NPK_SQUASHFS_IMAGE_H_
#define NPK_SQUASHFS_IMAGE_H_

#include <string>

// Makes the image of `directory` into *image. False with *error naming the
// directory and the fault (mksquashfs missing or failing, with what it
// printed on standard error).
bool makeSquashfsImage(const std::string& directory, std::string* image, std::string* error);

#endif  // NPK_SQUASHFS_IMAGE_H_

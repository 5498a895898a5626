#include "help_text.h"

const char kNpkHelp[] =
    "usage: npk <command> [options] ...\n"
    "\n"
    "Builds, inspects and verifies Kestavin package files (.npk, .dpk).\n"
    "\n"
    "commands:\n"
    "  build    make a package from a description and a directory tree\n"
    "  bundle   make a bundle from member package files\n"
    "  info     show every part, the headers and the signature verdict\n"
    "  ls       list the entries of the file container\n"
    "  verify   tell whether the installer would accept each package\n"
    "\n"
    "Run 'npk <command> --help' for the options of a command; 'man npk' for\n"
    "the description file format.\n"
    "Exit status: 0 success, 1 failure (verify: a package refused), 2 usage.\n";

const char kBuildHelp[] =
    "usage: npk build [-d DESCRIPTION] [--FIELD VALUE]... [--sign SCHEMES]\n"
    "                 [--key FILE] [--legacy-key FILE] [-o OUTPUT]\n"
    "\n"
    "Makes a package from a description (a file of 'key: value' lines, and\n"
    "options that set the same keys) and a directory tree.\n"
    "\n"
    "  -d, --description FILE   read the description from FILE\n"
    "  -o, --output FILE        write the package to FILE ('-': standard\n"
    "                           output); default NAME-VERSION.npk\n"
    "  --sign SCHEMES           ed25519 (default), legacy, both or none\n"
    "  --key FILE               Ed25519 private key (PEM)\n"
    "  --legacy-key FILE        legacy private scalar (64 hex digits)\n"
    "\n"
    "description keys (also options: --name routing, --boot-image):\n"
    "  name, version (7.1 7.1.5 7.1rc2 7.1beta3 7.1alpha1 7.1_ab5 7.1.0 0x...),\n"
    "  build-time (seconds, 'YYYY-MM-DD HH:MM:SS' UTC, now; default\n"
    "  $SOURCE_DATE_EPOCH or now), architecture, note, flags, boot-image,\n"
    "  no-meta, depends, provides, conflicts ('name >= 7.1 <= 7.2',\n"
    "  provides may add 'priority N'), files DIR, image DIR (made with\n"
    "  mksquashfs), skip PATH, digest sha256|sha1 (default sha256),\n"
    "  unrecorded.\n"
    "\n"
    "Without --key, --legacy-key or --sign the package is signed with the\n"
    "development Ed25519 key dev-ed25519.pem, looked for in $NPK_KEY_DIR,\n"
    "<npk's directory>/../keys, <npk's directory>/../share/npk/keys and the\n"
    "keys/ directory of the source tree npk was built from.\n";

const char kBundleHelp[] =
    "usage: npk bundle [-d DESCRIPTION] [--FIELD VALUE]... [-o OUTPUT] MEMBER...\n"
    "\n"
    "Makes a bundle from member package files, in the order given: bundle\n"
    "header, squashfs image (--image DIR), member list, the members, an\n"
    "architecture part (--trailing-architecture ARCH) and, last, the bundle\n"
    "signature over everything from the bundle header to the last member\n"
    "(--sign, --key, --legacy-key as for build; installers that predate it\n"
    "pass over it).\n"
    "\n"
    "  -d, --description FILE   read the description from FILE\n"
    "  -o, --output FILE        write the bundle to FILE ('-': standard\n"
    "                           output); default NAME-VERSION.npk\n"
    "\n"
    "description keys: name, version, build-time, architecture, note, flags,\n"
    "boot-image, no-meta, image, unrecorded, trailing-architecture.\n"
    "\n"
    "A member without a SHA-256 marker cannot follow one with it (the digest\n"
    "stays SHA-256); a bundle without an image part gets a warning.\n";

const char kInfoHelp[] =
    "usage: npk info [--secure] FILE...\n"
    "\n"
    "Shows every part with its offset, type and length, the header fields and\n"
    "lists of each package, its digest and the signature verdict under the\n"
    "installer's built-in keys. '-' reads standard input.\n"
    "\n"
    "  --secure   judge legacy signatures as if /ram/SECURE existed\n";

const char kListHelp[] =
    "usage: npk ls FILE...\n"
    "\n"
    "Lists the entries of each package's file container: mode, size, skip\n"
    "flag ('skip' or '-') and path. '-' reads standard input.\n";

const char kVerifyHelp[] =
    "usage: npk verify [--secure] FILE...\n"
    "\n"
    "Prints one line per package: the scheme that accepted it, or why the\n"
    "installer would refuse it. Exit status 0 when every package in every\n"
    "file is accepted, 1 otherwise. '-' reads standard input.\n"
    "\n"
    "  --secure   judge legacy signatures as if /ram/SECURE existed\n";

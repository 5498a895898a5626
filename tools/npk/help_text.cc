#include "help_text.h"

const char kNpkHelp[] =
    "usage: npk <command> [options] ...\n"
    "\n"
    "Builds, inspects, verifies and signs Kestavin package files (.npk, .dpk).\n"
    "\n"
    "commands:\n"
    "  build     make a package from a description and a directory tree\n"
    "  bundle    make a bundle from member package files\n"
    "  info      show every part, the headers and the signature verdicts\n"
    "  ls        list the entries of the file container\n"
    "  verify    tell whether the installer would accept each package\n"
    "  field     print one header field\n"
    "  diff      compare two packages: fields and files\n"
    "  extract   write a package's files into a new directory\n"
    "  resign    sign an existing package or bundle anew\n"
    "  keygen    make a key pair for production packages\n"
    "  pubkey    print the public key of a private key file\n"
    "  trusted   print the keys this build's installer trusts\n"
    "  simulate  dry run of the installer on an overlay of a router root\n"
    "\n"
    "Run 'npk <command> --help' for the options of a command; 'man npk' for\n"
    "the description file format and the JSON output.\n"
    "Exit status: 0 success, 1 failure (verify: a package refused), 2 usage;\n"
    "diff: 0 same, 1 different, 2 trouble.\n";

const char kBuildHelp[] =
    "usage: npk build [-d DESCRIPTION] [--FIELD VALUE]... [--sign SCHEMES]\n"
    "                 [--key FILE] [--legacy-key FILE] [--skip-special] [-o OUTPUT]\n"
    "\n"
    "Makes a package from a description (a file of 'key: value' lines, and\n"
    "options that set the same keys) and a directory tree. The installer\n"
    "installs regular files only: a tree holding symbolic links, devices,\n"
    "FIFOs or sockets is refused, naming each.\n"
    "\n"
    "  --skip-special           leave such files out, naming each\n"
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
    "keys/ directory of the source tree npk was built from; but never when\n"
    "this build's installer trusts other keys (see 'npk trusted'): then\n"
    "name the key.\n";

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
    "usage: npk info [--secure] [--trust FILE]... [--json] FILE...\n"
    "\n"
    "Shows every part with its offset, type and length, the header fields and\n"
    "lists of each package, its digest and the signature verdict, naming the\n"
    "key checked by its fingerprint. '-' reads standard input.\n"
    "\n"
    "  --secure       judge legacy signatures as if /ram/SECURE existed\n"
    "  --trust FILE   check against the public keys in FILE instead of the\n"
    "                 installer's built-in keys (lines 'ed25519 HEX',\n"
    "                 'legacy HEX' or what npk keygen and npk pubkey print)\n"
    "  --json         one JSON document (schema: man npk)\n";

const char kListHelp[] =
    "usage: npk ls [--digest] [--json] FILE...\n"
    "\n"
    "Lists the entries of each package's file container: mode, size, skip\n"
    "flag ('skip' or '-') and path. '-' reads standard input.\n"
    "\n"
    "  --digest   also the SHA-256 of each entry's data\n"
    "  --json     one JSON document (schema: man npk)\n";

const char kVerifyHelp[] =
    "usage: npk verify [--secure] [--trust FILE]... [--json] FILE...\n"
    "\n"
    "Prints one line per package: the scheme and key that accepted it, or\n"
    "why the installer would refuse it, and a warning for every entry the\n"
    "installer would not create. Exit status 0 when every package in every\n"
    "file is accepted, 1 otherwise. '-' reads standard input.\n"
    "\n"
    "  --secure       judge legacy signatures as if /ram/SECURE existed\n"
    "  --trust FILE   check against the public keys in FILE instead of the\n"
    "                 installer's built-in keys\n"
    "  --json         one JSON document (schema: man npk)\n";

const char kKeygenHelp[] =
    "usage: npk keygen [--scheme ed25519|legacy|both] -o DIR\n"
    "\n"
    "Makes new private keys (default: both schemes) as DIR/ed25519.pem and\n"
    "DIR/legacy.key, mode 0600, never over an existing file, and prints the\n"
    "public keys as the CMake options of a production build take them:\n"
    "  -DINSTALLER_ED25519_PUBLIC_KEY=<64 hex digits>\n"
    "  -DINSTALLER_LEGACY_PUBLIC_KEY=<64 hex digits>\n"
    "The printed lines also serve as a trust file for --trust.\n";

const char kPubkeyHelp[] =
    "usage: npk pubkey KEYFILE...\n"
    "\n"
    "Prints the public key of each private key file (an Ed25519 PEM key or a\n"
    "legacy key) as the CMake option that makes an installer trust it.\n";

const char kTrustedHelp[] =
    "usage: npk trusted [--json]\n"
    "\n"
    "Prints the fingerprint and the public key of each key the installer of\n"
    "this build trusts, and whether they are the development keys.\n";

const char kExtractHelp[] =
    "usage: npk extract [--secure] [--trust FILE]... [--no-verify] PACKAGE DIR\n"
    "\n"
    "Writes the files the installer would install (regular files with their\n"
    "modes) into DIR, which must be new or empty; a bundle's members into\n"
    "DIR/MEMBER; each squashfs image part to DIR/NAME.squashfs. Refuses a\n"
    "package the installer would refuse, and unsafe paths, writing nothing.\n"
    "\n"
    "  --no-verify    extract even when the signature would be refused\n";

const char kResignHelp[] =
    "usage: npk resign [--key FILE] [--legacy-key FILE] [--sign SCHEMES] -o OUTPUT\n"
    "                  PACKAGE\n"
    "\n"
    "Signs every package of a package or bundle file anew with the keys\n"
    "named, keeping every byte the signatures cover. '-o -' writes to\n"
    "standard output.\n";

const char kDiffHelp[] =
    "usage: npk diff [--json] A B\n"
    "\n"
    "Lists the header and list fields that differ, and the files added,\n"
    "removed and changed (type, mode, skip flag, size, SHA-256), member by\n"
    "member for bundles. Exit status 0 when the same, 1 when different, 2\n"
    "when a file cannot be read.\n";

const char kFieldHelp[] =
    "usage: npk field PACKAGE NAME\n"
    "\n"
    "Prints one header field of a package (of a bundle: the bundle's own):\n"
    "name, version, build-time, architecture, note, flags, depends,\n"
    "provides, conflicts or members; lists one entry a line.\n";

const char kSimulateHelp[] =
    "usage: npk simulate [--json] [--installer PROGRAM] ROOT [PACKAGE...]\n"
    "       npk simulate [--json] [--installer PROGRAM] --stream FILE ROOT\n"
    "\n"
    "Dry run: runs the real installer on a copy-on-write overlay of the\n"
    "router root ROOT, so that nothing reaches ROOT: an install run with the\n"
    "PACKAGE files added to the download directory, or with --stream the\n"
    "stream run reading FILE. Prints what the installer printed and its exit\n"
    "status, then the packages installed, upgraded, downgraded, reinstalled,\n"
    "enabled, disabled and removed, and the files added, replaced and\n"
    "removed. Needs root (overlay mount, chroot).\n"
    "\n"
    "  --installer PROGRAM   the installer to run (default: the installer\n"
    "                        beside npk, else 'installer' on PATH)\n";

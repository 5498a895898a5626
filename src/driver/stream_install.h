// Installation of one package stream, a single package or a bundle (a
// bundle header followed by its member packages), into the run's change
// set; and the stream run mode, which installs what standard input holds
// and applies the change set at once.
//
// A bundle is admitted as a whole: its record replaces an installed bundle
// of the same name, every member is installed with a reference to it, and
// the members the installed bundle had but the new one lacks are scheduled
// for uninstallation. Members listed in the bundle's member list that the
// user has not chosen a state for get a placeholder record (empty name,
// conflicting with the member), so that they install disabled.
#ifndef DRIVER_STREAM_INSTALL_H_
#define DRIVER_STREAM_INSTALL_H_

#include <streambuf>
#include <string>

#include "driver/content_install.h"

class ChangeSet;
struct CheckedSignatures;
class PackageDb;

// Results of installStream.
enum StreamResult {
  kStreamInstalled = 0,      // the package, or the bundle with a member, is staged
  kStreamNotInstalled = 1,   // single package not installed; bundle header unreadable,
                             // broken, declaring lists, or its entry not written
  kStreamBundleRefused = 2,  // bundle refused, a member not installed, or a wanted
                             // part after the members
  kStreamBundleEmpty = 3,    // the bundle holds no member package
};

// Installs the package stream that `input` holds from its current position
// into `changes`. `options` holds InstallOptions bits; `stateMap` the
// user's enable choices. Every byte consumed from `input` is also written
// to `copyTarget` when it is not null. Both must outlive the call.
// `dbDirOut` (may be null) receives the database directory of the
// installed package or bundle when it keeps a squashfs image there, and is
// left alone otherwise. `bootOut` (may be null) is set when the installed
// package is the boot image (kept as one file at "/flash/bootimage").
//
// `checked` (may be null) holds what a first pass over the whole input
// found of its signatures (the install run's scan): a package or bundle
// found broken then fails without staging anything, and the staging is
// not bounded by free space. Without it the input is read once, as the
// stream run must.
//
// Returns a StreamResult. Nothing is undone on failure: the caller cancels
// the change set. The database gains the new records (and a bundle's
// placeholders) and loses the replaced ones either way.
int installStream(PackageDb& db, std::streambuf& input, ChangeSet& changes, unsigned options,
                  const StateMap& stateMap, std::streambuf* copyTarget, std::string* dbDirOut,
                  bool* bootOut, const CheckedSignatures* checked = nullptr);

// The stream run mode: installs the package stream on standard input,
// keeping a copy of it at "/flash/var/pdb/.staging/image" that becomes the package's
// kept image (or "/flash/bootimage" for the boot image), applies the change
// set with the marker "/flash/PCKGS_CHANGED" on success or cancels it on
// failure, and writes the post-install log. The copy never stays in the
// database root, where it would read as a package entry. The copy is
// created before anything is read but written only when the header shows
// that an image it keeps follows (see StreamCopy). Returns the exit
// status: the installStream result, or -1 (after "ERROR: could not open
// image" on standard output) when the copy cannot be created or, when it
// is to be kept, written in full.
// REQUIRES: the scheduled actions are already staged in `changes`.
int runStreamMode(PackageDb& db, ChangeSet& changes, unsigned options);

#endif  // DRIVER_STREAM_INSTALL_H_

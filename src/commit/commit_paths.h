// The fixed paths of the change set and its commit, named once. All are
// absolute inside the (possibly changed) process root.
#ifndef COMMIT_COMMIT_PATHS_H_
#define COMMIT_COMMIT_PATHS_H_

namespace paths {

// The manifest of a safe-mode run, applied or discarded by a later run.
const char kManifest[] = "/ram/MANIFEST";
// Where staged files go when the target's file system has no room.
const char kRamDir[] = "/ram";
const char kTmpDir[] = "/tmp";

// The package database. Its loader passes over names beginning with ".",
// so the commit keeps its own files there under such names.
const char kDatabaseRoot[] = "/flash/var/pdb/";
// The commit journal: the change set being applied, in the manifest's line
// format. It exists from before the first change until after the last one
// is flushed.
const char kJournal[] = "/flash/var/pdb/.journal";
// The journal being written, before it is renamed into place.
const char kJournalTemporary[] = "/flash/var/pdb/.journal.new";
// Present once every copy across file systems sits beside its target and
// is flushed: from then on the changes themselves are being applied.
const char kJournalApplying[] = "/flash/var/pdb/.journal-applying";
// Staged files for targets on the database's file system, and the stream
// copy of a package read from standard input.
const char kStagingDir[] = "/flash/var/pdb/.staging";
const char kStreamImage[] = "/flash/var/pdb/.staging/image";
// The staging directories made on other file systems below "/flash".
const char kStagingPlaces[] = "/flash/var/pdb/.staging-places";
// Where the stream copy lay in earlier versions, read as a package "image".
const char kOldStreamImage[] = "/flash/var/pdb/image";

}  // namespace paths

#endif  // COMMIT_COMMIT_PATHS_H_

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

}  // namespace paths

#endif  // COMMIT_COMMIT_PATHS_H_

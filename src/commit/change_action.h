// One pending change of a target (commit/change_entries.h holds them).
#ifndef COMMIT_CHANGE_ACTION_H_
#define COMMIT_CHANGE_ACTION_H_

#include <stdint.h>

#include <string>

enum class ChangeKind {
  Move = 0,        // rename `source` onto the target; the source is not owned
  MoveStaged = 1,  // rename the staged file `source` onto the target; owned
  Symlink = 3,     // a symbolic link with the text `source` at the target
  Remove = 4,      // remove the target; `source` is empty
};

struct ChangeAction {
  ChangeKind kind = ChangeKind::Remove;
  std::string source;
  // The device the source lies on, when known without asking the system:
  // a staged file records the one of its staging directory, so that the
  // commit need not stat every file again.
  bool sourceDeviceKnown = false;
  uint64_t sourceDevice = 0;
};

inline bool isMove(ChangeKind kind) { return kind == ChangeKind::Move || kind == ChangeKind::MoveStaged; }

#endif  // COMMIT_CHANGE_ACTION_H_

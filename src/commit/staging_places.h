// Where the staged files of one change set go, decided as
// chooseStagingDirectory decides but without asking the system once per
// file: the nearest existing ancestor of each directory, the free space of
// each file system (a running count of what the run has staged there since
// it was asked) and the device of each staging directory are kept until
// forget(). Nothing creates target directories while files are staged, so
// what was missing stays missing. The count errs on the safe side: every
// file staged anywhere is charged to every file system, whole blocks and
// one more; when it says there is no room the file system is asked again,
// so that a file goes to "/ram" only when the system says so.
#ifndef COMMIT_STAGING_PLACES_H_
#define COMMIT_STAGING_PLACES_H_

#include <stdint.h>

#include <map>
#include <set>
#include <string>

#include "commit/file_system.h"

class StagingPlaces {
 public:
  struct Place {
    std::string directory;
    bool deviceKnown = false;
    uint64_t device = 0;
  };

  // `fs` must outlive the object.
  explicit StagingPlaces(FileSystem& fs) : fs_(fs) {}
  StagingPlaces(const StagingPlaces&) = delete;
  StagingPlaces& operator=(const StagingPlaces&) = delete;

  // chooseStagingDirectory's choice for `target`; a file of `sizeHint`
  // bytes is counted against the chosen directory's file system.
  std::string choose(const std::string& target, uint64_t sizeHint);
  // The directory a staged file of `target` is created in: the choice, or
  // below "/flash" the hidden staging directory of its file system (made
  // here; on another file system than the database's, listed for the
  // next run's sweep); with the device of that directory when stat could
  // tell it.
  Place place(const std::string& target, uint64_t sizeHint);
  // Whether a file of `size` bytes staged for `target` now would leave the
  // file system it goes to with less than `reserve` bytes free. Decided on
  // the running count; when that says too little, the file system is
  // asked again. Nothing is charged. False when no statistics can be had:
  // the write itself then reports the lack of space.
  bool wouldExhaust(const std::string& target, uint64_t size, uint64_t reserve);
  // A staged file in `directory` found no room on its file system after
  // all (file systems keep blocks that statfs counts as free): until
  // forget(), nothing more is staged on that file system.
  void markFull(const std::string& directory);
  // Drops everything known: after a commit or a cancel, directories and
  // free space are not what they were.
  void forget();

 private:
  // What statfs said, and the run's charged total at that moment.
  struct Space {
    uint64_t freeBytes = 0;
    uint64_t chargedBefore = 0;
  };
  struct Directory {
    bool exists = false;
    bool isDirectory = false;
    uint64_t device = 0;
  };

  // The nearest ancestor of `parent` (itself included) whose file-system
  // statistics can be had, or "" when none; its free space in *space.
  std::string answeringDirectory(const std::string& parent, Space** space);
  bool hasRoom(const std::string& directory, Space* space, uint64_t needed);
  // choose() without charging; the answering directory's space in *space
  // (null when none answered).
  std::string decide(const std::string& target, uint64_t sizeHint, Space** space);
  // Free bytes of `space` less what the run staged since it was asked.
  uint64_t uncharged(const Space& space) const;
  bool ask(const std::string& directory, Space* space);
  const Directory& directoryStatus(const std::string& path);
  // The staging directory of another file system below "/flash" than the
  // database's (made and listed once per run), or `chosen` itself when it
  // cannot be made.
  Place otherStagingPlace(const Place& chosen, uint64_t device);

  FileSystem& fs_;
  std::map<std::string, std::string> answering_;  // parent directory -> answering one
  std::map<std::string, Space> spaces_;           // answering directory -> its free space
  std::map<std::string, Directory> directories_;  // stat of staging directories
  uint64_t charged_ = 0;  // bytes staged since the start or forget()
  bool stagingDirMade_ = false;
  std::set<uint64_t> fullDevices_;  // file systems that refused a staged file
  std::map<uint64_t, std::string> otherStaging_;  // device -> its staging directory, "" when none
};

#endif  // COMMIT_STAGING_PLACES_H_

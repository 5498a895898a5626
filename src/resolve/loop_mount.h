// Looking inside a squashfs image that lies at some offset inside a larger
// file, in place and without copying it: a free loop device is attached
// read-only to the file at that offset and mounted read-only. LoopDevice
// and SquashfsMount each release what they hold when they go away, on every
// path, failures included. A failed system call is reported on standard
// error as "step: system error text"; nothing here writes console messages.
#ifndef RESOLVE_LOOP_MOUNT_H_
#define RESOLVE_LOOP_MOUNT_H_

#include <stdint.h>
#include <sys/types.h>

#include <string>

// The system calls behind loop devices and mounts, so that tests can fail
// any one of them. Each returns what the system call returns and leaves
// errno set on failure.
class LoopSystem {
 public:
  virtual ~LoopSystem() = default;
  virtual int openPath(const std::string& path, int flags) = 0;
  virtual int closeDescriptor(int descriptor) = 0;
  // ioctl with a plain number as argument.
  virtual int controlValue(int descriptor, unsigned long request, unsigned long value) = 0;
  // ioctl with a record as argument.
  virtual int controlRecord(int descriptor, unsigned long request, void* record) = 0;
  virtual int mountReadOnly(const std::string& device, const std::string& target,
                            const std::string& type) = 0;
  virtual int unmount(const std::string& target, int flags) = 0;
  virtual int makeDirectory(const std::string& path, mode_t mode) = 0;
};

// The running system's own calls.
LoopSystem& systemLoopCalls();

// One loop device, reserved and then attached read-only to a file from an
// offset on. Detaches only what it attached itself: a device that someone
// else took between reservation and attachment is left alone.
class LoopDevice {
 public:
  explicit LoopDevice(LoopSystem& system = systemLoopCalls()) : system_(system) {}
  // Detaches the device if attached, then closes the device and the file.
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  // Asks "/dev/loop-control" for a free device and opens its node
  // read-only. False after reporting "loop-control", "GET_FREE" or
  // "dev open".
  bool reserve();
  // Opens `file` read-only and attaches it from byte `offset` on, read-only,
  // recording `file` (cut to the kernel's 64-byte name field) as the
  // device's file name. False after reporting "open", "SET_FD" or
  // "SET_OFFSET". REQUIRES: reserve() succeeded.
  bool attach(const std::string& file, uint64_t offset);

  // "/dev/loop<n>" once reserved.
  const std::string& devicePath() const { return devicePath_; }

 private:
  void closeIfOpen(int* descriptor);

  LoopSystem& system_;
  std::string devicePath_;
  int device_ = -1;
  int backingFile_ = -1;
  bool attached_ = false;
};

// A read-only squashfs mount that is undone when the object goes away.
// When the plain unmount fails (something inside is busy), the mount is
// detached lazily so that it never outlives the object in the file tree.
class SquashfsMount {
 public:
  explicit SquashfsMount(LoopSystem& system = systemLoopCalls()) : system_(system) {}
  ~SquashfsMount();
  SquashfsMount(const SquashfsMount&) = delete;
  SquashfsMount& operator=(const SquashfsMount&) = delete;

  // Mounts `device` on `target`, read-only, without options. False after
  // reporting "mount squash".
  bool mount(const std::string& device, const std::string& target);

 private:
  LoopSystem& system_;
  std::string target_;
};

enum class ImageProbe { kPresent, kAbsent, kFailed };

// Mounts the squashfs image found at `offset` inside `file` on `mountPoint`
// (creating it and its parent with mode 0755 first) and tells whether
// `probePath`, an absolute path below the mount point, exists in it.
// kFailed when a loop or mount step failed (reported on standard error).
// The mount and the loop device are gone when this returns; the mount
// point stays as an empty directory.
ImageProbe probeSquashfsImage(const std::string& file, uint64_t offset, const std::string& mountPoint,
                              const std::string& probePath, LoopSystem& system = systemLoopCalls());

#endif  // RESOLVE_LOOP_MOUNT_H_

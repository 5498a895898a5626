#include "resolve/loop_mount.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "pdb/paths.h"
#include "platform/nv.h"

namespace {

const char kSquashfsType[] = "squashfs";
const mode_t kMountPointMode = 0755;

class RealLoopSystem : public LoopSystem {
 public:
  int openPath(const std::string& path, int flags) override {
    return open(path.c_str(), flags | O_CLOEXEC);
  }
  int closeDescriptor(int descriptor) override { return close(descriptor); }
  int controlValue(int descriptor, unsigned long request, unsigned long value) override {
    return ioctl(descriptor, request, value);
  }
  int controlRecord(int descriptor, unsigned long request, void* record) override {
    return ioctl(descriptor, request, record);
  }
  int mountReadOnly(const std::string& device, const std::string& target,
                    const std::string& type) override {
    return ::mount(device.c_str(), target.c_str(), type.c_str(), MS_RDONLY, nullptr);
  }
  int unmount(const std::string& target, int flags) override { return umount2(target.c_str(), flags); }
  int makeDirectory(const std::string& path, mode_t mode) override { return mkdir(path.c_str(), mode); }
};

// The 64-bit status record: the 32-bit one holds the offset in a signed
// int, which cannot reach an image beyond 2 GiB into the file.
loop_info64 readOnlyStatus(const std::string& file, uint64_t offset) {
  loop_info64 status;
  memset(&status, 0, sizeof status);
  status.lo_offset = offset;
  status.lo_flags = LO_FLAGS_READ_ONLY;
  // The kernel terminates the name itself; a longer path is simply cut.
  memcpy(status.lo_file_name, file.data(), std::min(file.size(), sizeof status.lo_file_name));
  return status;
}

void makeMountPoint(LoopSystem& system, const std::string& mountPoint) {
  std::string::size_type slash = mountPoint.rfind('/');
  // Either may exist already; a real failure shows when mounting.
  if (slash != std::string::npos && slash > 0) system.makeDirectory(mountPoint.substr(0, slash), kMountPointMode);
  system.makeDirectory(mountPoint, kMountPointMode);
}

}  // namespace

LoopSystem& systemLoopCalls() {
  static RealLoopSystem calls;
  return calls;
}

LoopDevice::~LoopDevice() {
  if (attached_ && system_.controlValue(device_, LOOP_CLR_FD, 0) != 0) perror("CLR_FD");
  closeIfOpen(&device_);
  closeIfOpen(&backingFile_);
}

void LoopDevice::closeIfOpen(int* descriptor) {
  if (*descriptor < 0) return;
  system_.closeDescriptor(*descriptor);
  *descriptor = -1;
}

bool LoopDevice::reserve() {
  int control = system_.openPath(paths::kLoopControl, O_RDONLY);
  if (control < 0) {
    perror("loop-control");
    return false;
  }
  int number = system_.controlValue(control, LOOP_CTL_GET_FREE, 0);
  int savedErrno = errno;
  system_.closeDescriptor(control);
  errno = savedErrno;
  if (number < 0) {
    perror("GET_FREE");
    return false;
  }
  char path[sizeof paths::kLoopDevicePattern + 16];
  snprintf(path, sizeof path, paths::kLoopDevicePattern, number);
  devicePath_ = path;
  device_ = system_.openPath(devicePath_, O_RDONLY);
  if (device_ < 0) {
    perror("dev open");
    return false;
  }
  return true;
}

bool LoopDevice::attach(const std::string& file, uint64_t offset) {
  backingFile_ = system_.openPath(file, O_RDONLY);
  if (backingFile_ < 0) {
    perror("open");
    return false;
  }
  // A failed attachment leaves the device to whoever holds it (EBUSY:
  // another user took it after we reserved it); it is not ours to detach.
  if (system_.controlValue(device_, LOOP_SET_FD, static_cast<unsigned long>(backingFile_)) != 0) {
    perror("SET_FD");
    return false;
  }
  attached_ = true;
  loop_info64 status = readOnlyStatus(file, offset);
  if (system_.controlRecord(device_, LOOP_SET_STATUS64, &status) != 0) {
    perror("SET_OFFSET");
    return false;
  }
  return true;
}

SquashfsMount::~SquashfsMount() {
  if (target_.empty()) return;
  if (system_.unmount(target_, 0) == 0) return;
  perror("umount");
  system_.unmount(target_, MNT_DETACH);
}

bool SquashfsMount::mount(const std::string& device, const std::string& target) {
  if (system_.mountReadOnly(device, target, kSquashfsType) != 0) {
    perror("mount squash");
    return false;
  }
  target_ = target;
  return true;
}

ImageProbe probeSquashfsImage(const std::string& file, uint64_t offset, const std::string& mountPoint,
                              const std::string& probePath, LoopSystem& system) {
  LoopDevice loop(system);
  if (!loop.reserve()) return ImageProbe::kFailed;
  makeMountPoint(system, mountPoint);
  if (!loop.attach(file, offset)) return ImageProbe::kFailed;
  // Declared after the loop device, so it is undone before the detach.
  SquashfsMount mount(system);
  if (!mount.mount(loop.devicePath(), mountPoint)) return ImageProbe::kFailed;
  return nv::fileExists(probePath, 0) ? ImageProbe::kPresent : ImageProbe::kAbsent;
}

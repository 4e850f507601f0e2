#pragma once
// The run lock as flock(LOCK_EX | LOCK_NB) on a folder itself: an exclusive lock on the open
// folder, released by the kernel when the process ends however it ends.
#include <string>

#include "platform/RunLock.h"

namespace zel::platform {

class FolderRunLock : public RunLock {
 public:
  // `windowsFolder` is mapped through the drive mapping at each Take, so it follows the Wine
  // prefix in force.
  explicit FolderRunLock(std::string windowsFolder) : folder_(std::move(windowsFolder)) {}
  ~FolderRunLock() override;
  FolderRunLock(const FolderRunLock&) = delete;
  FolderRunLock& operator=(const FolderRunLock&) = delete;

  // Taken again for the same folder is Taken. When the mapping now names another folder (only a
  // test moves between prefixes within one process) the lock moves to that folder.
  Outcome Take() override;

 private:
  std::string folder_;
  int fd_ = -1;
};

}  // namespace zel::platform

#pragma once
// One run at a time. A second ZelUtil started while a run is in progress must touch nothing, so
// the run holds a lock on ZelUtil's folder that the kernel drops together with the process: a
// crashed run never blocks the next, no file is left behind, and each Wine prefix has its own.
namespace zel::platform {

class RunLock {
 public:
  enum class Outcome {
    Taken,           // this process now holds it (or already did)
    HeldByOtherRun,  // another live process holds it: another run is in progress
    NoFolder,        // ZelUtil's folder is missing; the run's first write reports that
  };
  virtual ~RunLock() = default;
  // Takes the lock and keeps it for the rest of this process's life. Raises std::runtime_error,
  // naming the folder, when the folder is there but cannot be locked.
  virtual Outcome Take() = 0;
};

// The real lock, on C:\ZelPos of the Wine prefix in force.
RunLock& HostRunLock();

}  // namespace zel::platform

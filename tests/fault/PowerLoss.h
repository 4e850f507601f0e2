// After a program run under the fault layer with ZEL_FAULT_POWERLOSS=DIR was killed, puts its
// files in a state a power cut at that moment could leave (see PowerLossJournal.h for what the
// layer records).
#pragma once

#include <filesystem>
#include <string>

namespace zelfault {

enum class PowerLossKind {
  Data,     // file contents not synced since they were written go back to what they were
  Entries,  // names made, replaced or removed in a folder not synced since are undone
  Both,
};

struct PowerLossOutcome {
  int filesRolledBack = 0;
  int entriesUndone = 0;
};

// Throws std::runtime_error when the journal cannot be read.
PowerLossOutcome ApplyPowerLoss(const std::filesystem::path& journalDir, PowerLossKind kind);

}  // namespace zelfault

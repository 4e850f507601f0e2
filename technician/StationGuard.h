#pragma once
// The technician's commands change live tables only while nothing else uses them: not while the
// POS program runs, not while a process holds one of the table's files.
#include <string>

#include "technician/TechnicianContext.h"

namespace zel::technician {

// Raises TechnicianError when the POS window is open.
void RefuseWhilePosRuns(TechnicianContext& context);

// "" when no live process holds or has open a file of `folder`\`table`; else which process
// holds which file, for the refusal.
std::string HolderOfTableFiles(const std::string& folder, const std::string& table);

}  // namespace zel::technician

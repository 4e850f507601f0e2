#pragma once
// The technician's commands of zelutil-console: --put-back RUN [--master TABLE] and --undo RUN.
// Kept apart from the run's options: they share only the program.
#include <optional>
#include <string>

namespace zel::console {

// When the arguments ask for one of the technician's commands: runs it (as the till user when
// root started it over a till's prefix, under the run lock) and returns its exit status (64 for
// bad arguments). Nullopt when they ask for none.
std::optional<int> RunTechnicianCommand(int argc, char* argv[]);

}  // namespace zel::console

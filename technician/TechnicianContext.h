#pragma once
// What a technician's command works with: the station's files, the POS window, the clock and
// where its lines go. The console gives the host's; tests give their own streams.
#include <chrono>
#include <functional>
#include <ostream>
#include <stdexcept>

namespace zel::platform {
class WindowsFiles;
class PosWindow;
}  // namespace zel::platform

namespace zel::technician {

struct TechnicianContext {
  platform::WindowsFiles& files;
  platform::PosWindow& posWindow;
  std::ostream& out;  // one line per table changed or refused
  std::ostream& err;  // why a command stopped
  std::function<std::chrono::system_clock::time_point()> now = [] {
    return std::chrono::system_clock::now();
  };
};

// A command that must not go on; the text says what failed and on which file or table.
class TechnicianError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Exit statuses of the technician's commands.
inline constexpr int kTechnicianOk = 0;       // every table done
inline constexpr int kTechnicianPartly = 1;   // a table was refused or failed; the others done
inline constexpr int kTechnicianRefused = 3;  // nothing changed: the command was refused

}  // namespace zel::technician

#pragma once
// A power-off that never happens, for demonstrations and tests of the whole program: it reports
// each request on standard error and answers as an accepting system would.
#include <cstdio>

#include "platform/PowerOff.h"

namespace zel::platform {

class SimulatedPowerOff : public PowerOff {
 public:
  void AcquireShutdownRight() override {}
  bool RequestShutdown(unsigned flags) override {
    std::fprintf(stderr, "power-off: %u simulated\n", flags);
    std::fflush(stderr);
    return true;
  }
};

}  // namespace zel::platform

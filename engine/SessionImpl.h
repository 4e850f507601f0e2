#pragma once
// What a session holds: whether it is open, its lock files, and its open tables.
#include <vector>

#include "engine/Session.h"
#include "engine/SessionLocks.h"

namespace zel::engine {

class Table;

struct Session::State {
  bool open = false;
  SessionLocks locks;
  std::vector<Table*> tables;
};

}  // namespace zel::engine

#include "engine/Session.h"

#include <algorithm>
#include <vector>

#include "engine/SessionImpl.h"
#include "engine/Table.h"

namespace zel::engine {

Session& Session::Default() {
  static Session session;
  return session;
}

Session::~Session() {
  // At exit no after-close events run: their handlers may already be gone.
  if (state_) state_->locks.ReleaseAll();
  delete state_;
}

void Session::Open() {
  if (!state_) state_ = new State;
  state_->open = true;
}

void Session::Close() {
  if (!state_ || !state_->open) return;
  // Tables still open are closed first, each with its after-close event.
  const std::vector<Table*> open = state_->tables;
  for (Table* t : open) t->Close();
  state_->locks.ReleaseAll();
  state_->open = false;
}

bool Session::IsOpen() const noexcept {
  return state_ && state_->open;
}

}  // namespace zel::engine

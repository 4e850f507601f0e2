#pragma once
// The engine's default session. Open starts it, Close ends it and removes the lock files the
// session made (and releases its OS locks on them).
namespace zel::engine {

class Session {
 public:
  static Session& Default();

  void Open();   // may raise EngineError
  void Close();  // closing a closed session does nothing
  bool IsOpen() const noexcept;

  // Ends the session (removing its lock files) when the program exits with it still open.
  ~Session();

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  Session() = default;
  friend class Table;
  struct State;
  State* state_ = nullptr;
};

}  // namespace zel::engine

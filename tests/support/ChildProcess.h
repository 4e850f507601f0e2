#pragma once
// Forked children for tests in which the kernel must see another process: one that holds a lock
// (fcntl locks and flock belong to a process, so this process cannot stand in for it), and one
// that runs as an ordinary user. The children only make system calls and end with _exit, so
// nothing of the test's own state (temporary folders, open files) is torn down twice.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace zel::test {

// Holds a lock on `path` from a child process until Release, Kill or destruction.
class LockingChild {
 public:
  enum class Kind {
    Fcntl,  // a write lock on a file, as the Paradox engine takes on its lock files
    Flock,  // an exclusive flock, on a file or a folder
    Open,   // no lock, only open: as Wine keeps every file a Windows program has open
  };

  LockingChild(const std::string& path, Kind kind) {
    int ready[2], release[2];
    // Close-on-exec, so that programs the test starts meanwhile do not keep the child alive.
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    if (::pipe2(release, O_CLOEXEC) != 0) {
      ::close(ready[0]);
      ::close(ready[1]);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      char ok = 'n';
      const int fd = ::open(path.c_str(), kind == Kind::Fcntl ? O_RDWR : O_RDONLY);
      if (fd >= 0 && kind == Kind::Open) {
        ok = 'y';
      } else if (fd >= 0 && kind == Kind::Flock) {
        ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
      } else if (fd >= 0) {
        struct flock lk {};
        lk.l_type = F_WRLCK;
        lk.l_whence = SEEK_SET;
        ok = ::fcntl(fd, F_SETLK, &lk) == 0 ? 'y' : 'n';
      }
      if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
      char c;
      while (::read(release[0], &c, 1) > 0) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = 'n';
    if (pid_ > 0 && ::read(ready[0], &ok, 1) == 1) locked_ = ok == 'y';
    ::close(ready[0]);
  }
  ~LockingChild() { Release(); }
  LockingChild(const LockingChild&) = delete;
  LockingChild& operator=(const LockingChild&) = delete;

  // True once the child holds the lock (with Kind::Open: has the file open).
  bool Locked() const { return locked_; }
  // The child's process ID while it runs, else -1.
  pid_t Pid() const { return pid_; }
  // The child lets go and ends normally.
  void Release() { End(false); }
  // The child is killed as a crash or a power cut would end it.
  void Kill() { End(true); }

 private:
  void End(bool kill) {
    if (pid_ > 0 && kill) ::kill(pid_, SIGKILL);
    if (release_ >= 0) ::close(release_);
    release_ = -1;
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    locked_ = false;
  }

  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

inline constexpr uid_t kOrdinaryUser = 65534;   // nobody
inline constexpr gid_t kOrdinaryGroup = 65534;  // nogroup

// Runs `body` in a child process as an ordinary user and returns what it returned (0..124):
// as root the child first drops to nobody/nogroup, otherwise it already is one. 125 when the
// child could not drop its rights, 126 when `body` raised, -1 when it did not end normally.
inline int RunAsOrdinaryUser(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 ||
         ::setresgid(kOrdinaryGroup, kOrdinaryGroup, kOrdinaryGroup) != 0 ||
         ::setresuid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) != 0 || ::geteuid() == 0))
      ::_exit(125);
    int status = 126;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace zel::test

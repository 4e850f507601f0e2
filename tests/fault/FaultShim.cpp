// libzelfault.so: a fault layer loaded with LD_PRELOAD into the program under test. It sees every
// file operation the program makes through the C library (the platform layer, the engine's
// writer and the creator libraries alike), records them, and can kill the process at a chosen
// destructive operation or make a chosen write-like operation fail.
//
// Only operations on paths under ZEL_FAULT_ROOT count. Controls, all by environment:
//   ZEL_FAULT_ROOT=DIR        the tree whose operations count (required; nothing counts without it)
//   ZEL_FAULT_TRACE=FILE      appends one line per counted operation:
//                               SEQ KIND d=K|- io=N|- PATH[ -> PATH2] = RESULT [ERRNO]
//                             d= numbers destructive operations, io= fault-countable ones
//   ZEL_FAULT_CRASH=before:K  raise SIGKILL right before the K-th destructive operation
//   ZEL_FAULT_CRASH=after:K   ... right after it (whatever its result)
//   ZEL_FAULT_FAIL=N          the N-th fault-countable operation fails without being done
//   ZEL_FAULT_FAIL_MODE=once|from   only that one, or every one from N on (default once)
//   ZEL_FAULT_ERRNO=ENOSPC|EIO      the error the failure gives (default EIO)
//   ZEL_FAULT_NOSLEEP=1       nanosleep, clock_nanosleep, usleep and sleep return at once
//   ZEL_FAULT_NOSYNC=1        fsync and fdatasync succeed at once without syncing (still
//                             counted): a killed process loses nothing the kernel holds, so
//                             sweeps of kills and errors need no disk flushes
//   ZEL_FAULT_POWERLOSS=DIR   records in DIR what a power cut could still take back (see
//                             PowerLossJournal.h); PowerLoss.cpp applies it after a kill
//   ZEL_FAULT_TORN=N          the N-th fault-countable operation, when it is a write or pwrite,
//                             writes only the first half of its bytes, then the process is killed
//
// Destructive: unlink, unlinkat, remove, rmdir, every rename (it replaces or moves a name),
// ftruncate, and an open or creat with O_TRUNC for writing on a file that exists.
// Recorded only (neither): an open that may create a file, mkstemp, mkostemp, mkdir, mkdirat;
// with them the trace shows every change a crash could leave, so two kill points with no
// recorded operation between them are known to leave the same files.
// Fault-countable: write, pwrite, pwrite64, writev, fsync, fdatasync, rename, renameat,
// renameat2, link, linkat, copy_file_range and sendfile. A failed write writes nothing (-1), so
// the program sees the error at once rather than a short write it might retry.
//
// The wrappers use no locks and no allocation; counters are atomic, and a thread-local guard
// keeps the layer from counting its own work.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include "PowerLossJournal.h"

namespace {

enum class CrashWhen { Never, Before, After };

struct Settings {
  char root[PATH_MAX] = {};
  size_t rootLength = 0;
  char realRoot[PATH_MAX] = {};
  size_t realRootLength = 0;
  int traceFd = -1;
  CrashWhen crash = CrashWhen::Never;
  long crashAt = 0;
  long failAt = 0;
  bool failFrom = false;
  int failErrno = EIO;
  bool noSleep = false;
  bool noSync = false;
  long tornAt = 0;
};

Settings settings;
int ready = 0;
long traceSequence = 0;
long destructiveSequence = 0;
long ioSequence = 0;
thread_local bool inside = false;
thread_local bool tearThisWrite = false;  // set by Begin for ZEL_FAULT_TORN

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

#define ZEL_REAL(type, name)         \
  static type real_##name = nullptr; \
  if (!real_##name) real_##name = Real<type>(#name);

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);
using WriteFn = ssize_t (*)(int, const void*, size_t);

WriteFn RawWrite() {
  static WriteFn fn = nullptr;
  if (!fn) fn = Real<WriteFn>("write");
  return fn;
}

long EnvNumber(const char* name) {
  const char* text = getenv(name);
  return text ? strtol(text, nullptr, 10) : 0;
}

void Load() {
  if (__atomic_load_n(&ready, __ATOMIC_ACQUIRE)) return;
  const char* root = getenv("ZEL_FAULT_ROOT");
  if (root && *root && strlen(root) < PATH_MAX) {
    strcpy(settings.root, root);
    settings.rootLength = strlen(root);
    while (settings.rootLength > 1 && settings.root[settings.rootLength - 1] == '/')
      settings.root[--settings.rootLength] = '\0';
    if (realpath(settings.root, settings.realRoot))
      settings.realRootLength = strlen(settings.realRoot);
  }
  if (const char* trace = getenv("ZEL_FAULT_TRACE"); trace && *trace) {
    ZEL_REAL(OpenFn, open);
    settings.traceFd = real_open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (const char* crash = getenv("ZEL_FAULT_CRASH"); crash && *crash) {
    if (strncmp(crash, "before:", 7) == 0) {
      settings.crash = CrashWhen::Before;
      settings.crashAt = strtol(crash + 7, nullptr, 10);
    } else if (strncmp(crash, "after:", 6) == 0) {
      settings.crash = CrashWhen::After;
      settings.crashAt = strtol(crash + 6, nullptr, 10);
    }
  }
  settings.failAt = EnvNumber("ZEL_FAULT_FAIL");
  if (const char* mode = getenv("ZEL_FAULT_FAIL_MODE"); mode && strcmp(mode, "from") == 0)
    settings.failFrom = true;
  if (const char* err = getenv("ZEL_FAULT_ERRNO"); err && strcmp(err, "ENOSPC") == 0)
    settings.failErrno = ENOSPC;
  if (const char* sleep = getenv("ZEL_FAULT_NOSLEEP"); sleep && strcmp(sleep, "1") == 0)
    settings.noSleep = true;
  if (const char* sync = getenv("ZEL_FAULT_NOSYNC"); sync && strcmp(sync, "1") == 0)
    settings.noSync = true;
  settings.tornAt = EnvNumber("ZEL_FAULT_TORN");
  __atomic_store_n(&ready, 1, __ATOMIC_RELEASE);
  // After `ready`: the journal's own open comes back through this layer's open.
  if (const char* dir = getenv("ZEL_FAULT_POWERLOSS"); dir && *dir) {
    inside = true;
    zelfault::JournalOpen(dir);
    inside = false;
  }
}

__attribute__((constructor)) void LoadAtStart() {
  Load();
}

bool Within(const char* path, const char* root, size_t length) {
  return length > 0 && strncmp(path, root, length) == 0 &&
         (path[length] == '/' || path[length] == '\0');
}

bool UnderRoot(const char* path) {
  return Within(path, settings.root, settings.rootLength) ||
         Within(path, settings.realRoot, settings.realRootLength);
}

// The path an fd names (its /proc link); empty when it cannot be read.
void FdPath(int fd, char* out, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, out, size - 1);
  out[n > 0 ? n : 0] = '\0';
}

// `path` as seen from `dirfd` (AT_FDCWD: the working directory), made absolute.
void AtPath(int dirfd, const char* path, char* out, size_t size) {
  if (!path) {
    out[0] = '\0';
    return;
  }
  if (path[0] == '/') {
    snprintf(out, size, "%s", path);
    return;
  }
  char base[PATH_MAX];
  if (dirfd == AT_FDCWD) {
    if (!getcwd(base, sizeof base)) base[0] = '\0';
  } else {
    FdPath(dirfd, base, sizeof base);
  }
  snprintf(out, size, "%s/%s", base, path);
}

struct Op {
  const char* kind;
  bool destructive;
  bool countable;  // may be made to fail
  const char* path;
  const char* path2 = nullptr;
  long traceNumber = 0;
  long destructiveNumber = 0;
  long ioNumber = 0;
};

void Trace(const Op& op, const char* result, int err) {
  if (settings.traceFd < 0) return;
  char line[2 * PATH_MAX + 160];
  char d[24] = "-", io[24] = "-";
  if (op.destructive) snprintf(d, sizeof d, "%ld", op.destructiveNumber);
  if (op.countable) snprintf(io, sizeof io, "%ld", op.ioNumber);
  int n =
      snprintf(line, sizeof line, "%ld %s d=%s io=%s %s%s%s = %s%s%s\n", op.traceNumber, op.kind, d,
               io, op.path, op.path2 ? " -> " : "", op.path2 ? op.path2 : "", result,
               err ? " " : "", err ? strerrorname_np(err) ? strerrorname_np(err) : "E?" : "");
  if (n < 0) return;
  if (n >= static_cast<int>(sizeof line)) n = sizeof line - 1;
  RawWrite()(settings.traceFd, line, static_cast<size_t>(n));
}

[[noreturn]] void Crash(const Op& op, const char* when) {
  Trace(op, when, 0);
  raise(SIGKILL);
  _exit(137);  // not reached: SIGKILL cannot be caught
}

// Numbers the operation; kills the process when it is the crash point's "before"; returns true
// when it must fail instead of being done (errno is then set).
bool Begin(Op& op) {
  op.traceNumber = __atomic_add_fetch(&traceSequence, 1, __ATOMIC_SEQ_CST);
  if (op.destructive) {
    op.destructiveNumber = __atomic_add_fetch(&destructiveSequence, 1, __ATOMIC_SEQ_CST);
    if (settings.crash == CrashWhen::Before && op.destructiveNumber == settings.crashAt)
      Crash(op, "killed-before");
  }
  if (op.countable) {
    op.ioNumber = __atomic_add_fetch(&ioSequence, 1, __ATOMIC_SEQ_CST);
    const bool fail = settings.failAt > 0 && (op.ioNumber == settings.failAt ||
                                              (settings.failFrom && op.ioNumber > settings.failAt));
    if (fail) {
      Trace(op, "injected", settings.failErrno);
      errno = settings.failErrno;
      return true;
    }
    tearThisWrite = op.ioNumber == settings.tornAt;
  }
  return false;
}

void End(const Op& op, long result, int err) {
  char text[32];
  snprintf(text, sizeof text, "%ld", result);
  Trace(op, text, result < 0 ? err : 0);
  if (op.destructive && settings.crash == CrashWhen::After &&
      op.destructiveNumber == settings.crashAt)
    Crash(op, "killed-after");
  errno = err;
}

// Runs `call` for an operation on `path` (and `path2`), counting it when either is under the
// root and the layer is not already inside itself.
template <typename Call>
auto Counted(const char* kind, bool destructive, bool countable, const char* path,
             const char* path2, Call call) -> decltype(call()) {
  using Result = decltype(call());
  Load();
  if (inside || !(UnderRoot(path) || (path2 && UnderRoot(path2)))) return call();
  inside = true;
  Op op{kind, destructive, countable, path, path2};
  if (Begin(op)) {
    inside = false;
    return static_cast<Result>(-1);
  }
  zelfault::JournalBefore(kind, path, path2, op.traceNumber);
  inside = false;
  const Result result = call();
  const int err = errno;
  inside = true;
  zelfault::JournalAfter(kind, path, path2, op.traceNumber, static_cast<long>(result));
  End(op, static_cast<long>(result), err);
  inside = false;
  return result;
}

template <typename Call>
auto OnFd(const char* kind, bool destructive, bool countable, int fd, Call call)
    -> decltype(call()) {
  Load();
  if (inside || settings.rootLength == 0) return call();
  char path[PATH_MAX];
  inside = true;
  FdPath(fd, path, sizeof path);
  inside = false;
  return Counted(kind, destructive, countable, path, nullptr, call);
}

template <typename Call>
auto OnPath(const char* kind, bool destructive, bool countable, int dirfd, const char* path,
            Call call) -> decltype(call()) {
  Load();
  if (inside || settings.rootLength == 0) return call();
  char full[PATH_MAX];
  AtPath(dirfd, path, full, sizeof full);
  return Counted(kind, destructive, countable, full, nullptr, call);
}

template <typename Call>
auto OnTwoPaths(const char* kind, bool destructive, bool countable, int dirfd1, const char* path1,
                int dirfd2, const char* path2, Call call) -> decltype(call()) {
  Load();
  if (inside || settings.rootLength == 0) return call();
  char full1[PATH_MAX], full2[PATH_MAX];
  AtPath(dirfd1, path1, full1, sizeof full1);
  AtPath(dirfd2, path2, full2, sizeof full2);
  return Counted(kind, destructive, countable, full1, full2, call);
}

bool NeedsMode(int flags) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

// An open that empties an existing file destroys its contents: a crash point.
int OpenCounted(const char* kind, int dirfd, const char* path, int flags, mode_t mode,
                int (*call)(int, const char*, int, mode_t)) {
  Load();
  if (inside || settings.rootLength == 0 || !(flags & (O_TRUNC | O_CREAT)))
    return call(dirfd, path, flags, mode);
  const bool truncates =
      (flags & O_TRUNC) && (flags & O_ACCMODE) != O_RDONLY && faccessat(dirfd, path, F_OK, 0) == 0;
  if (!truncates) {
    if (!(flags & O_CREAT)) return call(dirfd, path, flags, mode);
    // Recorded only, so the trace shows every file a crash could leave behind.
    return OnPath("create", false, false, dirfd, path,
                  [&] { return call(dirfd, path, flags, mode); });
  }
  char full[PATH_MAX];
  AtPath(dirfd, path, full, sizeof full);
  if (!UnderRoot(full)) return call(dirfd, path, flags, mode);
  return Counted(kind, true, false, full, nullptr, [&] { return call(dirfd, path, flags, mode); });
}

int CallOpenAt(int dirfd, const char* path, int flags, mode_t mode) {
  ZEL_REAL(OpenAtFn, openat);
  return real_openat(dirfd, path, flags, mode);
}
int CallOpenAt64(int dirfd, const char* path, int flags, mode_t mode) {
  ZEL_REAL(OpenAtFn, openat64);
  return real_openat64(dirfd, path, flags, mode);
}

bool SkipSleep() {
  Load();
  return settings.noSleep;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (NeedsMode(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return OpenCounted("open-trunc", AT_FDCWD, path, flags, mode, CallOpenAt);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (NeedsMode(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return OpenCounted("open-trunc", AT_FDCWD, path, flags, mode, CallOpenAt64);
}

int openat(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (NeedsMode(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return OpenCounted("open-trunc", dirfd, path, flags, mode, CallOpenAt);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (NeedsMode(flags)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return OpenCounted("open-trunc", dirfd, path, flags, mode, CallOpenAt64);
}

// The fortified entry points that -D_FORTIFY_SOURCE builds call instead.
int __open_2(const char* path, int flags) {
  return OpenCounted("open-trunc", AT_FDCWD, path, flags, 0, CallOpenAt);
}
int __open64_2(const char* path, int flags) {
  return OpenCounted("open-trunc", AT_FDCWD, path, flags, 0, CallOpenAt64);
}
int __openat_2(int dirfd, const char* path, int flags) {
  return OpenCounted("open-trunc", dirfd, path, flags, 0, CallOpenAt);
}
int __openat64_2(int dirfd, const char* path, int flags) {
  return OpenCounted("open-trunc", dirfd, path, flags, 0, CallOpenAt64);
}

int creat(const char* path, mode_t mode) {
  return OpenCounted("open-trunc", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode, CallOpenAt);
}
int creat64(const char* path, mode_t mode) {
  return OpenCounted("open-trunc", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode,
                     CallOpenAt64);
}

// A torn write (ZEL_FAULT_TORN): the first half of the bytes reach the file, then the power goes.
ssize_t write(int fd, const void* data, size_t size) {
  return OnFd("write", false, true, fd, [&] {
    if (tearThisWrite && !inside) {
      (void)RawWrite()(fd, data, size / 2);
      raise(SIGKILL);
    }
    return RawWrite()(fd, data, size);
  });
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  using Fn = ssize_t (*)(int, const void*, size_t, off_t);
  ZEL_REAL(Fn, pwrite);
  return OnFd("pwrite", false, true, fd, [&] {
    if (tearThisWrite && !inside) {
      (void)real_pwrite(fd, data, size / 2, offset);
      raise(SIGKILL);
    }
    return real_pwrite(fd, data, size, offset);
  });
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
  using Fn = ssize_t (*)(int, const void*, size_t, off64_t);
  ZEL_REAL(Fn, pwrite64);
  return OnFd("pwrite", false, true, fd, [&] {
    if (tearThisWrite && !inside) {
      (void)real_pwrite64(fd, data, size / 2, offset);
      raise(SIGKILL);
    }
    return real_pwrite64(fd, data, size, offset);
  });
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  using Fn = ssize_t (*)(int, const struct iovec*, int);
  ZEL_REAL(Fn, writev);
  return OnFd("writev", false, true, fd, [&] { return real_writev(fd, iov, count); });
}

int fsync(int fd) {
  using Fn = int (*)(int);
  ZEL_REAL(Fn, fsync);
  return OnFd("fsync", false, true, fd, [&] { return settings.noSync ? 0 : real_fsync(fd); });
}

int fdatasync(int fd) {
  using Fn = int (*)(int);
  ZEL_REAL(Fn, fdatasync);
  return OnFd("fdatasync", false, true, fd,
              [&] { return settings.noSync ? 0 : real_fdatasync(fd); });
}

int ftruncate(int fd, off_t length) {
  using Fn = int (*)(int, off_t);
  ZEL_REAL(Fn, ftruncate);
  return OnFd("ftruncate", true, false, fd, [&] { return real_ftruncate(fd, length); });
}

int ftruncate64(int fd, off64_t length) {
  using Fn = int (*)(int, off64_t);
  ZEL_REAL(Fn, ftruncate64);
  return OnFd("ftruncate", true, false, fd, [&] { return real_ftruncate64(fd, length); });
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t size,
                        unsigned int flags) {
  using Fn = ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned int);
  ZEL_REAL(Fn, copy_file_range);
  return OnFd("copy", false, true, out,
              [&] { return real_copy_file_range(in, inOffset, out, outOffset, size, flags); });
}

ssize_t sendfile(int out, int in, off_t* offset, size_t size) {
  using Fn = ssize_t (*)(int, int, off_t*, size_t);
  ZEL_REAL(Fn, sendfile);
  return OnFd("copy", false, true, out, [&] { return real_sendfile(out, in, offset, size); });
}

ssize_t sendfile64(int out, int in, off64_t* offset, size_t size) {
  using Fn = ssize_t (*)(int, int, off64_t*, size_t);
  ZEL_REAL(Fn, sendfile64);
  return OnFd("copy", false, true, out, [&] { return real_sendfile64(out, in, offset, size); });
}

int rename(const char* from, const char* to) {
  using Fn = int (*)(const char*, const char*);
  ZEL_REAL(Fn, rename);
  return OnTwoPaths("rename", true, true, AT_FDCWD, from, AT_FDCWD, to,
                    [&] { return real_rename(from, to); });
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  using Fn = int (*)(int, const char*, int, const char*);
  ZEL_REAL(Fn, renameat);
  return OnTwoPaths("rename", true, true, fromDir, from, toDir, to,
                    [&] { return real_renameat(fromDir, from, toDir, to); });
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
  using Fn = int (*)(int, const char*, int, const char*, unsigned int);
  ZEL_REAL(Fn, renameat2);
  return OnTwoPaths("rename", true, true, fromDir, from, toDir, to,
                    [&] { return real_renameat2(fromDir, from, toDir, to, flags); });
}

int link(const char* from, const char* to) {
  using Fn = int (*)(const char*, const char*);
  ZEL_REAL(Fn, link);
  return OnTwoPaths("link", false, true, AT_FDCWD, from, AT_FDCWD, to,
                    [&] { return real_link(from, to); });
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  using Fn = int (*)(int, const char*, int, const char*, int);
  ZEL_REAL(Fn, linkat);
  return OnTwoPaths("link", false, true, fromDir, from, toDir, to,
                    [&] { return real_linkat(fromDir, from, toDir, to, flags); });
}

int unlink(const char* path) {
  using Fn = int (*)(const char*);
  ZEL_REAL(Fn, unlink);
  return OnPath("unlink", true, false, AT_FDCWD, path, [&] { return real_unlink(path); });
}

int unlinkat(int dirfd, const char* path, int flags) {
  using Fn = int (*)(int, const char*, int);
  ZEL_REAL(Fn, unlinkat);
  return OnPath((flags & AT_REMOVEDIR) ? "rmdir" : "unlink", true, false, dirfd, path,
                [&] { return real_unlinkat(dirfd, path, flags); });
}

int remove(const char* path) {
  using Fn = int (*)(const char*);
  ZEL_REAL(Fn, remove);
  return OnPath("remove", true, false, AT_FDCWD, path, [&] { return real_remove(path); });
}

int rmdir(const char* path) {
  using Fn = int (*)(const char*);
  ZEL_REAL(Fn, rmdir);
  return OnPath("rmdir", true, false, AT_FDCWD, path, [&] { return real_rmdir(path); });
}

int mkstemp(char* pattern) {
  using Fn = int (*)(char*);
  ZEL_REAL(Fn, mkstemp);
  return OnPath("create", false, false, AT_FDCWD, pattern, [&] { return real_mkstemp(pattern); });
}

int mkostemp(char* pattern, int flags) {
  using Fn = int (*)(char*, int);
  ZEL_REAL(Fn, mkostemp);
  return OnPath("create", false, false, AT_FDCWD, pattern,
                [&] { return real_mkostemp(pattern, flags); });
}

int mkdir(const char* path, mode_t mode) {
  using Fn = int (*)(const char*, mode_t);
  ZEL_REAL(Fn, mkdir);
  return OnPath("mkdir", false, false, AT_FDCWD, path, [&] { return real_mkdir(path, mode); });
}

int mkdirat(int dirfd, const char* path, mode_t mode) {
  using Fn = int (*)(int, const char*, mode_t);
  ZEL_REAL(Fn, mkdirat);
  return OnPath("mkdir", false, false, dirfd, path,
                [&] { return real_mkdirat(dirfd, path, mode); });
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
  if (SkipSleep()) {
    if (remaining) remaining->tv_sec = remaining->tv_nsec = 0;
    return 0;
  }
  using Fn = int (*)(const struct timespec*, struct timespec*);
  ZEL_REAL(Fn, nanosleep);
  return real_nanosleep(request, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                    struct timespec* remaining) {
  if (SkipSleep()) {
    if (remaining) remaining->tv_sec = remaining->tv_nsec = 0;
    return 0;
  }
  using Fn = int (*)(clockid_t, int, const struct timespec*, struct timespec*);
  ZEL_REAL(Fn, clock_nanosleep);
  return real_clock_nanosleep(clock, flags, request, remaining);
}

int usleep(useconds_t microseconds) {
  if (SkipSleep()) return 0;
  using Fn = int (*)(useconds_t);
  ZEL_REAL(Fn, usleep);
  return real_usleep(microseconds);
}

unsigned int sleep(unsigned int seconds) {
  if (SkipSleep()) return 0;
  using Fn = unsigned int (*)(unsigned int);
  ZEL_REAL(Fn, sleep);
  return real_sleep(seconds);
}

}  // extern "C"

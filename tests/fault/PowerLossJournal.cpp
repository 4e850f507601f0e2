// Called only while the fault layer is inside itself, so the file calls made here pass through
// its wrappers uncounted. No allocation: fixed buffers, and a spin lock around the journal
// because the program may write from more than one thread.
#include "PowerLossJournal.h"

#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace zelfault {
namespace {

char journalDir[PATH_MAX] = {};
int journalFd = -1;
std::atomic_flag busy = ATOMIC_FLAG_INIT;

// Paths written since their last sync, by hash: their bytes before that are already kept.
constexpr int kDirtyMax = 4096;
uint64_t dirty[kDirtyMax];
int dirtyCount = 0;

thread_local bool createdNew = false;  // between JournalBefore and JournalAfter of a create
thread_local bool keptOld = false;     // ... of a rename or unlink
thread_local bool removedDir = false;  // ... of an unlink or remove

struct Lock {
  Lock() {
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Lock() { busy.clear(std::memory_order_release); }
};

uint64_t Hash(const char* text) {
  uint64_t h = 1469598103934665603ULL;
  for (; *text; ++text) h = (h ^ static_cast<unsigned char>(*text)) * 1099511628211ULL;
  return h;
}

bool IsDirty(const char* path) {
  const uint64_t h = Hash(path);
  for (int i = 0; i < dirtyCount; ++i)
    if (dirty[i] == h) return true;
  return false;
}

void MarkDirty(const char* path) {
  if (dirtyCount < kDirtyMax) dirty[dirtyCount++] = Hash(path);
}

void MarkClean(const char* path) {
  const uint64_t h = Hash(path);
  for (int i = 0; i < dirtyCount;)
    if (dirty[i] == h)
      dirty[i] = dirty[--dirtyCount];
    else
      ++i;
}

void Line(const char* type, long seq, const char* a, const char* b = nullptr,
          const char* c = nullptr) {
  char line[2 * PATH_MAX + 64];
  int n = snprintf(line, sizeof line, "%s\t%ld\t%s%s%s%s%s\n", type, seq, a, b ? "\t" : "",
                   b ? b : "", c ? "\t" : "", c ? c : "");
  if (n <= 0) return;
  if (n >= static_cast<int>(sizeof line)) n = sizeof line - 1;
  ssize_t done = write(journalFd, line, static_cast<size_t>(n));
  (void)done;
}

void KeptPath(long seq, const char* suffix, char* out, size_t size) {
  // journalDir is shorter than PATH_MAX - 32 (JournalOpen), so the name always fits.
  if (snprintf(out, size, "%s/%ld.%s", journalDir, seq, suffix) >= static_cast<int>(size))
    out[0] = '\0';
}

// Copies `path`'s bytes to DIR/SEQ.data; false when it is no regular file.
bool Snapshot(const char* path, long seq) {
  const int in = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return false;
  struct stat st {};
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  char copy[PATH_MAX];
  KeptPath(seq, "data", copy, sizeof copy);
  const int out = open(copy, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return false;
  }
  char buffer[65536];
  ssize_t n;
  bool ok = true;
  while ((n = read(in, buffer, sizeof buffer)) > 0)
    if (write(out, buffer, static_cast<size_t>(n)) != n) ok = false;
  close(in);
  close(out);
  return ok && n == 0;
}

bool Exists(const char* path, bool* isDir = nullptr) {
  struct stat st {};
  if (lstat(path, &st) != 0) return false;
  if (isDir) *isDir = S_ISDIR(st.st_mode);
  return true;
}

bool Is(const char* kind, const char* name) {
  return strcmp(kind, name) == 0;
}

bool ChangesData(const char* kind) {
  return Is(kind, "write") || Is(kind, "pwrite") || Is(kind, "writev") || Is(kind, "ftruncate") ||
         Is(kind, "copy") || Is(kind, "open-trunc");
}

bool Unlinks(const char* kind) {
  return Is(kind, "unlink") || Is(kind, "remove");
}

void FdPath(int fd, char* out, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, out, size - 1);
  out[n > 0 ? n : 0] = '\0';
}

}  // namespace

void JournalOpen(const char* dir) {
  if (!dir || !*dir || strlen(dir) >= sizeof journalDir - 32) return;
  strcpy(journalDir, dir);
  char path[PATH_MAX];
  snprintf(path, sizeof path, "%s/journal", dir);
  journalFd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

bool JournalActive() {
  return journalFd >= 0;
}

void JournalBefore(const char* kind, const char* path, const char* path2, long seq) {
  if (journalFd < 0) return;
  const Lock lock;
  if (ChangesData(kind)) {
    if (!IsDirty(path) && Snapshot(path, seq)) {
      Line("W", seq, path);
      MarkDirty(path);
    }
  } else if (Is(kind, "create")) {
    createdNew = !Exists(path);
  } else if (Is(kind, "rename") && path2) {
    char kept[PATH_MAX];
    KeptPath(seq, "old", kept, sizeof kept);
    bool isDir = false;
    keptOld = Exists(path2, &isDir) && !isDir && link(path2, kept) == 0;
  } else if (Unlinks(kind)) {
    char kept[PATH_MAX];
    KeptPath(seq, "old", kept, sizeof kept);
    bool isDir = false;
    keptOld = Exists(path, &isDir) && !isDir && link(path, kept) == 0;
    removedDir = isDir;
  }
}

void JournalAfter(const char* kind, const char* path, const char* path2, long seq, long result) {
  if (journalFd < 0) return;
  const Lock lock;
  const bool ok = result >= 0;
  char kept[PATH_MAX];
  if (Is(kind, "create")) {
    // mkstemp names its file only once it is made: the descriptor tells which.
    char made[PATH_MAX];
    if (ok) FdPath(static_cast<int>(result), made, sizeof made);
    if (ok && (createdNew || strstr(path, "XXXXXX"))) {
      Line("C", seq, made);
      MarkClean(made);
    }
  } else if (Is(kind, "fsync") || Is(kind, "fdatasync")) {
    bool isDir = false;
    if (ok && Exists(path, &isDir)) {
      Line(isDir ? "Y" : "S", seq, path);
      if (!isDir) MarkClean(path);
    }
  } else if (Is(kind, "rename") && path2) {
    KeptPath(seq, "old", kept, sizeof kept);
    if (ok) {
      Line("R", seq, path, path2, keptOld ? "1" : "0");
      MarkClean(path);
      MarkClean(path2);
    } else if (keptOld) {
      unlink(kept);
    }
  } else if (Unlinks(kind) || Is(kind, "rmdir")) {
    KeptPath(seq, "old", kept, sizeof kept);
    if (ok && keptOld && !Is(kind, "rmdir")) {
      Line("U", seq, path);
      MarkClean(path);
    } else if (ok && (removedDir || Is(kind, "rmdir"))) {
      Line("D", seq, path);
    } else if (keptOld) {
      unlink(kept);
    }
    keptOld = removedDir = false;
  } else if (Is(kind, "mkdir")) {
    if (ok) Line("M", seq, path);
  } else if (Is(kind, "link") && path2) {
    if (ok) Line("L", seq, path, path2);
  }
}

}  // namespace zelfault

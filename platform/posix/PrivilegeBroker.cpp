#include "platform/posix/PrivilegeBroker.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/posix/FileLockProbe.h"

namespace zel::platform {
namespace {

// One request or answer per datagram (SOCK_SEQPACKET keeps their bounds).
enum : char {
  kAskPowerOff = 'P',
  kAskOpenFiles = 'O',
  kOpenFilesPart = 'D',
  kOpenFilesEnd = 'E',
};

struct Request {
  char kind;
  std::uint32_t flags;
};

struct OpenFile {
  std::int64_t pid;
  std::uint64_t dev;
  std::uint64_t ino;
};

constexpr std::size_t kFilesPerPart = 256;

int g_brokerSocket = -1;  // the child's end
std::mutex g_askLock;
volatile sig_atomic_t g_child = 0;

void ForwardSignal(int signal) {
  if (g_child > 0) ::kill(static_cast<pid_t>(g_child), signal);
}

bool SendAll(int socket, const void* data, std::size_t size) {
  for (;;) {
    const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(size)) return true;
    if (sent < 0 && errno == EINTR) continue;
    return false;
  }
}

ssize_t Receive(int socket, void* data, std::size_t size) {
  for (;;) {
    const ssize_t got = ::recv(socket, data, size, 0);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

void AnswerOpenFiles(int socket) {
  std::vector<char> part(1 + kFilesPerPart * sizeof(OpenFile));
  std::size_t count = 0;
  auto flush = [&] {
    part[0] = kOpenFilesPart;
    SendAll(socket, part.data(), 1 + count * sizeof(OpenFile));
    count = 0;
  };
  ForEachOpenFile([&](long pid, unsigned long long dev, unsigned long long ino) {
    const OpenFile file{pid, dev, ino};
    std::memcpy(part.data() + 1 + count * sizeof(OpenFile), &file, sizeof file);
    if (++count == kFilesPerPart) flush();
  });
  if (count > 0) flush();
  const char end = kOpenFilesEnd;
  SendAll(socket, &end, 1);
}

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return 1;
}

// The parent's life: answers the two questions until the child ends.
int Serve(int socket, pid_t child, const PrivilegedServices& services) {
  for (;;) {
    pollfd waiting{socket, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, 1000);
    if (ready < 0 && errno != EINTR) return 1;
    bool closed = false;
    if (ready > 0) {
      Request request{};
      const ssize_t got = Receive(socket, &request, sizeof request);
      if (got == static_cast<ssize_t>(sizeof request)) {
        if (request.kind == kAskPowerOff) {
          const char accepted = services.powerOff && services.powerOff(request.flags) ? 1 : 0;
          SendAll(socket, &accepted, 1);
        } else if (request.kind == kAskOpenFiles) {
          AnswerOpenFiles(socket);
        }
        continue;
      }
      closed = got <= 0;  // the child's end is closed (or broken): it is ending
    }
    int status = 0;
    const pid_t ended = ::waitpid(child, &status, closed ? 0 : WNOHANG);
    if (ended == child) return StatusOf(status);
    if (ended < 0 && errno != EINTR) return 1;
  }
}

}  // namespace

std::optional<int> ForkPrivilegeBroker(const PrivilegedServices& services, std::string& error) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    error = std::string("socketpair: ") + std::strerror(errno);
    return 1;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    ::close(ends[0]);
    ::close(ends[1]);
    return 1;
  }
  if (child == 0) {
    ::close(ends[0]);
    g_brokerSocket = ends[1];
    return std::nullopt;
  }
  ::close(ends[1]);
  g_child = child;
  ExcludeFromOpenFileScans(child);
  // The terminal sends its interrupt to both processes; the child decides what it means. A
  // termination aimed at this process is passed on, so the run ends the way it always did.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, nullptr);
  ::sigaction(SIGQUIT, &ignore, nullptr);
  struct sigaction forward {};
  forward.sa_handler = ForwardSignal;
  ::sigaction(SIGTERM, &forward, nullptr);
  ::sigaction(SIGHUP, &forward, nullptr);
  const int status = Serve(ends[0], child, services);
  ::close(ends[0]);
  return status;
}

bool HasPrivilegeBroker() {
  return g_brokerSocket >= 0;
}

bool BrokerForEachOpenFile(
    const std::function<void(long pid, unsigned long long dev, unsigned long long ino)>& seen) {
  std::lock_guard<std::mutex> hold(g_askLock);
  if (g_brokerSocket < 0) return false;
  const Request request{kAskOpenFiles, 0};
  if (!SendAll(g_brokerSocket, &request, sizeof request)) return false;
  std::vector<char> part(1 + kFilesPerPart * sizeof(OpenFile));
  for (;;) {
    const ssize_t got = Receive(g_brokerSocket, part.data(), part.size());
    if (got <= 0) return false;
    if (part[0] == kOpenFilesEnd) return true;
    if (part[0] != kOpenFilesPart) return false;
    const std::size_t count = static_cast<std::size_t>(got - 1) / sizeof(OpenFile);
    for (std::size_t i = 0; i < count; ++i) {
      OpenFile file{};
      std::memcpy(&file, part.data() + 1 + i * sizeof(OpenFile), sizeof file);
      seen(static_cast<long>(file.pid), file.dev, file.ino);
    }
  }
}

bool BrokeredPowerOff::RequestShutdown(unsigned flags) {
  std::lock_guard<std::mutex> hold(g_askLock);
  if (g_brokerSocket < 0) return false;
  const Request request{kAskPowerOff, flags};
  if (!SendAll(g_brokerSocket, &request, sizeof request)) return false;
  char accepted = 0;
  return Receive(g_brokerSocket, &accepted, 1) == 1 && accepted == 1;
}

}  // namespace zel::platform

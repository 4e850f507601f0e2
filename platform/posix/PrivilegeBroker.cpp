#include "platform/posix/PrivilegeBroker.h"

#include <fcntl.h>
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
#include "platform/posix/SmallFiles.h"

namespace zel::platform {
namespace {

// One request or answer per datagram (SOCK_SEQPACKET keeps their bounds).
enum : char {
  kAskPowerOff = 'P',
  kAskOpenFiles = 'O',
  kOpenFilesPart = 'D',
  kOpenFilesEnd = 'E',
  kWriteFile = 'W',  // then the path; then kWriteChunk datagrams; then kWriteDone
  kWriteChunk = 'C',
  kWriteDone = 'F',
};

struct Request {
  char kind;
  std::uint32_t flags;
};

constexpr std::size_t kChunk = 32 * 1024;
constexpr std::size_t kLargestFile = 64u << 20;  // a report or metrics file is far smaller

struct OpenFile {
  std::int64_t pid;
  std::uint64_t dev;
  std::uint64_t ino;
};

constexpr std::size_t kFilesPerPart = 256;

int g_brokerSocket = -1;                           // the child's end
std::vector<std::filesystem::path> g_rootOutputs;  // in the child: what the parent writes
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

// Receives one file the child sends and writes it where root was told to.
void AnswerWriteFile(int socket, const std::string& path, const PrivilegedServices& services) {
  std::string bytes;
  std::string error;
  bool complete = false;
  std::vector<char> message(1 + kChunk);
  for (;;) {
    const ssize_t got = Receive(socket, message.data(), message.size());
    if (got <= 0) return;
    if (message[0] == kWriteDone) {
      complete = true;
      break;
    }
    if (message[0] != kWriteChunk) break;
    if (bytes.size() + static_cast<std::size_t>(got - 1) > kLargestFile) {
      error = "larger than " + std::to_string(kLargestFile >> 20) + " MiB";
      break;
    }
    bytes.append(message.data() + 1, static_cast<std::size_t>(got - 1));
  }
  bool allowed = false;
  for (const std::filesystem::path& output : services.rootOutputs)
    allowed = allowed || output == std::filesystem::path(path);
  if (complete && !allowed) error = "not a file this run was told to write";
  const bool written = complete && allowed && WriteFileAtomically(path, bytes, error);
  if (!written && error.empty()) error = "the request was cut short";
  const std::string answer = (written ? "1" : "0") + error;
  SendAll(socket, answer.data(), answer.size());
}

// The parent's life: answers the child's questions until it ends.
int Serve(int socket, pid_t child, const PrivilegedServices& services) {
  std::vector<char> message(1 + kChunk);
  for (;;) {
    pollfd waiting{socket, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, 1000);
    if (ready < 0 && errno != EINTR) return 1;
    bool closed = false;
    if (ready > 0) {
      const ssize_t got = Receive(socket, message.data(), message.size());
      if (got > 0) {
        Request request{};
        if (message[0] == kAskPowerOff && got == static_cast<ssize_t>(sizeof request)) {
          std::memcpy(&request, message.data(), sizeof request);
          const char accepted = services.powerOff && services.powerOff(request.flags) ? 1 : 0;
          SendAll(socket, &accepted, 1);
        } else if (message[0] == kAskOpenFiles) {
          AnswerOpenFiles(socket);
        } else if (message[0] == kWriteFile) {
          AnswerWriteFile(
              socket, std::string(message.data() + 1, static_cast<std::size_t>(got - 1)), services);
        }
        continue;  // anything else is not a request of ours: ignored
      }
      closed = true;  // the child's end is closed (or broken): it is ending
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
    g_rootOutputs = services.rootOutputs;
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

bool BrokerWritesFile(const std::filesystem::path& file) {
  if (g_brokerSocket < 0) return false;
  for (const std::filesystem::path& output : g_rootOutputs)
    if (output == file) return true;
  return false;
}

bool BrokerWriteFile(const std::filesystem::path& file, const std::string& bytes,
                     std::string& error) {
  std::lock_guard<std::mutex> hold(g_askLock);
  const std::string start = std::string(1, kWriteFile) + file.string();
  bool sent = g_brokerSocket >= 0 && start.size() <= kChunk &&
              SendAll(g_brokerSocket, start.data(), start.size());
  for (std::size_t at = 0; sent && at < bytes.size(); at += kChunk) {
    const std::string chunk = std::string(1, kWriteChunk) + bytes.substr(at, kChunk);
    sent = SendAll(g_brokerSocket, chunk.data(), chunk.size());
  }
  const char done = kWriteDone;
  sent = sent && SendAll(g_brokerSocket, &done, 1);
  std::vector<char> answer(1024);
  const ssize_t got = sent ? Receive(g_brokerSocket, answer.data(), answer.size()) : -1;
  if (got <= 0) {
    error = "the root process that started this run did not answer";
    return false;
  }
  error.assign(answer.data() + 1, static_cast<std::size_t>(got - 1));
  return answer[0] == '1';
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

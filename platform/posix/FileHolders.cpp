#include "platform/posix/FileHolders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/posix/FileLockProbe.h"

namespace zel::platform {
namespace {

// "MAJOR:MINOR:INODE" of /proc/locks, the device numbers in hex.
bool ParseFileId(const std::string& text, unsigned long long& dev, unsigned long long& ino) {
  const std::size_t first = text.find(':');
  const std::size_t second = text.find(':', first == std::string::npos ? first : first + 1);
  if (first == std::string::npos || second == std::string::npos) return false;
  try {
    const unsigned long major = std::stoul(text.substr(0, first), nullptr, 16);
    const unsigned long minor = std::stoul(text.substr(first + 1, second - first - 1), nullptr, 16);
    ino = std::stoull(text.substr(second + 1));
    dev = static_cast<unsigned long long>(::makedev(major, minor));
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace

FileHolders FileHolders::Take() {
  FileHolders holders;
  const long self = static_cast<long>(::getpid());

  // "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiting request has "->" after the
  // number, and an open-file-description lock gives -1 for the process.
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, id;
    fields >> number >> kind;
    if (kind == "->") continue;
    fields >> mode >> access >> pid >> id;
    Use use{};
    try {
      use.pid = std::stol(pid);
    } catch (...) {
      continue;
    }
    if (use.pid == self || use.pid <= 0 || !ParseFileId(id, use.dev, use.ino)) continue;
    holders.locks_.push_back(use);
  }

  ForEachOpenFile([&holders](long pid, unsigned long long dev, unsigned long long ino) {
    holders.opens_.push_back({dev, ino, pid});
  });
  return holders;
}

std::optional<FileHolder> FileHolders::HolderOf(const std::filesystem::path& file) const {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  const auto dev = static_cast<unsigned long long>(st.st_dev);
  const auto ino = static_cast<unsigned long long>(st.st_ino);
  for (const auto* uses : {&locks_, &opens_})
    for (const Use& use : *uses)
      if (use.dev == dev && use.ino == ino) return FileHolder{use.pid, ProcessCommand(use.pid)};
  return std::nullopt;
}

std::string ProcessCommand(long pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  std::ifstream cmdline(base + "/cmdline", std::ios::binary);
  std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
  while (!command.empty() && command.back() == '\0') command.pop_back();
  for (char& c : command)
    if (c == '\0') c = ' ';
  if (command.empty()) {
    std::ifstream comm(base + "/comm");
    std::getline(comm, command);
  }
  return command;
}

}  // namespace zel::platform

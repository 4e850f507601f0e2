#pragma once
// The system calls behind HostFiles' writes. Tests replace them to provoke what a real disk
// seldom does (a full disk halfway through a copy, a failing fsync); the program never does.
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

namespace zel::platform {

struct FileSyscalls {
  ssize_t (*write)(int fd, const void* data, size_t size) = ::write;
  int (*fsync)(int fd) = ::fsync;
};

FileSyscalls& HostFileSyscalls();

}  // namespace zel::platform

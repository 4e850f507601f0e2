#pragma once
// The system calls behind HostFiles' writes. Tests replace them to provoke what a real disk
// seldom does (a full disk halfway through a copy, a failing fsync, too little room for a
// copy); the program never does.
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

namespace zel::platform {

struct FileSyscalls {
  ssize_t (*write)(int fd, const void* data, size_t size) = ::write;
  int (*fsync)(int fd) = ::fsync;
  // The free space a copy checks before it starts: tests give a nearly full disk.
  int (*statvfs)(const char* path, struct statvfs* info) = ::statvfs;
};

FileSyscalls& HostFileSyscalls();

}  // namespace zel::platform

// Holds a file as a running POS program does, until its standard input closes: with an fcntl
// write lock, as its engine holds its lock files (prints "locked"), or with --open just open,
// as Wine keeps every file a Windows program has open (prints "open").
//
//   hold_lock [--open] <file>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const bool openOnly = argc == 3 && std::strcmp(argv[1], "--open") == 0;
  if (argc != 2 && !openOnly) {
    std::fprintf(stderr, "usage: hold_lock [--open] <file>\n");
    return 2;
  }
  const char* file = argv[argc - 1];
  const int fd = ::open(file, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "hold_lock: cannot open %s: %s\n", file, std::strerror(errno));
    return 3;
  }
  if (!openOnly) {
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
      std::fprintf(stderr, "hold_lock: cannot lock %s: %s\n", file, std::strerror(errno));
      return 3;
    }
  }
  std::printf(openOnly ? "open\n" : "locked\n");
  std::fflush(stdout);
  char buffer[64];
  while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  ::close(fd);
  return 0;
}

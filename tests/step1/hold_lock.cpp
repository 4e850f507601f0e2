// Holds an fcntl write lock on a file, as a running POS program's engine does on its lock files,
// until its standard input closes. Prints "locked" once the lock is held.
//
//   hold_lock <file>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hold_lock <file>\n");
    return 2;
  }
  const int fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "hold_lock: cannot open %s: %s\n", argv[1], std::strerror(errno));
    return 3;
  }
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &lock) != 0) {
    std::fprintf(stderr, "hold_lock: cannot lock %s: %s\n", argv[1], std::strerror(errno));
    return 3;
  }
  std::printf("locked\n");
  std::fflush(stdout);
  char buffer[64];
  while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  ::close(fd);
  return 0;
}

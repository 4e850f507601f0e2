// Test helper run as a separate process, because fcntl locks are per process.
//   lock_holder hold FILE   takes a write lock on FILE, prints "locked", holds it until stdin
//                           closes or a line arrives
//   lock_holder probe FILE  prints "locked" when another process holds a lock on FILE, else
//                           "free"
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: lock_holder hold|probe FILE\n";
    return 2;
  }
  const std::string mode = argv[1];
  const int fd = ::open(argv[2], mode == "hold" ? O_RDWR : O_RDONLY);
  if (fd < 0) {
    std::perror(argv[2]);
    return 2;
  }
  struct flock lk;
  std::memset(&lk, 0, sizeof lk);
  lk.l_type = F_WRLCK;
  lk.l_whence = SEEK_SET;
  if (mode == "probe") {
    if (::fcntl(fd, F_GETLK, &lk) != 0) return 2;
    std::cout << (lk.l_type == F_UNLCK ? "free" : "locked") << std::endl;
    return 0;
  }
  if (::fcntl(fd, F_SETLK, &lk) != 0) {
    std::perror("F_SETLK");
    return 2;
  }
  std::cout << "locked" << std::endl;
  std::string line;
  std::getline(std::cin, line);
  return 0;
}

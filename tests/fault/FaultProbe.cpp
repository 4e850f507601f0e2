// zel-fault-probe: does a few file operations and pauses on request, printing each result, so
// the fault layer's own test can see what the layer did to a program. No Qt.
//   zel-fault-probe write2 FILE        two one-byte appends ("a", then "b")
//   zel-fault-probe unlink FILE
//   zel-fault-probe truncate FILE      open for writing with O_TRUNC, then close
//   zel-fault-probe commit FILE NEW    write NEW.tmp, fsync it, rename it over NEW, unlink FILE
//   zel-fault-probe sleep MS           nanosleep, clock_nanosleep and usleep of MS each; prints
//                                      the monotonic time that passed
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace {

void Report(const char* what, long result) {
  const char* name = result < 0 ? strerrorname_np(errno) : nullptr;
  printf("%s %ld %s\n", what, result, name ? name : "-");
  fflush(stdout);
}

long long NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: zel-fault-probe write2|unlink|truncate|commit|sleep ARG...\n");
    return 2;
  }
  const std::string command = argv[1];
  const char* file = argv[2];
  if (command == "write2") {
    const int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return Report("open", fd), 1;
    Report("write", write(fd, "a", 1));
    Report("write", write(fd, "b", 1));
    close(fd);
  } else if (command == "unlink") {
    Report("unlink", unlink(file));
  } else if (command == "truncate") {
    const int fd = open(file, O_WRONLY | O_TRUNC | O_CLOEXEC);
    Report("open", fd);
    if (fd >= 0) close(fd);
  } else if (command == "commit" && argc == 4) {
    const std::string target = argv[3];
    const std::string temp = target + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return Report("open", fd), 1;
    Report("write", write(fd, "new", 3));
    Report("fsync", fsync(fd));
    close(fd);
    Report("rename", rename(temp.c_str(), target.c_str()));
    Report("unlink", unlink(file));
  } else if (command == "sleep") {
    const long ms = strtol(file, nullptr, 10);
    const long long start = NowMs();
    const timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    Report("nanosleep", nanosleep(&pause, nullptr));
    Report("clock_nanosleep", -clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr));
    Report("usleep", usleep(static_cast<useconds_t>(ms % 1000) * 1000));
    printf("slept %lld\n", NowMs() - start);
  } else {
    fprintf(stderr, "zel-fault-probe: unknown command %s\n", command.c_str());
    return 2;
  }
  return 0;
}

// Calls every entry point of the Files library ("files") or of the Index library ("index"), in
// the order the libraries list them, bound at load time as ZelUtil binds them; prints each name
// before its call. Built for Windows and for Linux, so both systems' results compare.
#include <cstdio>
#include <cstring>

#include "creators/Files.h"
#include "creators/Index.h"

#define ZEL_CALL_ENTRY(name)  \
  std::printf("%s\n", #name); \
  std::fflush(stdout);        \
  name();

int main(int argc, char* argv[]) {
  if (argc != 2 || (std::strcmp(argv[1], "files") != 0 && std::strcmp(argv[1], "index") != 0)) {
    std::fprintf(stderr, "usage: creator-probe files|index\n");
    return 2;
  }
  if (std::strcmp(argv[1], "files") == 0) {
    ZEL_FILES_ENTRY_POINTS(ZEL_CALL_ENTRY)
  } else {
    ZEL_INDEX_ENTRY_POINTS(ZEL_CALL_ENTRY)
  }
  return 0;
}

// libFuzzer target over the table verifier. The input is a table and its primary index: a
// 4-byte little-endian length, that many bytes of .DB, and the rest as .PX (none when empty).
// Whatever the bytes, verification must end with success or an EngineError: no crash, no hang,
// no other exception.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/EngineError.h"
#include "engine/Verifier.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Dir() {
  static const fs::path dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "zelfuzz.XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    return fs::path(tmpl);
  }();
  return dir;
}

void Write(const fs::path& file, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::size_t dbSize = data[0] | (data[1] << 8) | (data[2] << 16) | (std::size_t{data[3]} << 24);
  data += 4;
  size -= 4;
  if (dbSize > size) dbSize = size;
  const fs::path db = Dir() / "T.DB";
  const fs::path px = Dir() / "T.PX";
  Write(db, data, dbSize);
  std::error_code ec;
  fs::remove(px, ec);
  if (size > dbSize) Write(px, data + dbSize, size - dbSize);
  try {
    zel::engine::VerifyTable(db, "");
  } catch (const zel::engine::EngineError&) {
  }
  try {
    (void)zel::engine::DescribeTable(db);
  } catch (const zel::engine::EngineError&) {
  }
  return 0;
}

#pragma once
// The SHA-256 of a file, for the manifests that let a technician's undo tell whether the files a
// run left are still the ones it left. Each platform hashes with its own library.
#include <cstdint>
#include <optional>
#include <string>

namespace zel::platform {

struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits
};

// The digest of the regular file at `hostPath` (never through a link, never waiting on a FIFO);
// none when it is missing or cannot be read.
std::optional<FileDigest> DigestOfFile(const std::string& hostPath);

}  // namespace zel::platform

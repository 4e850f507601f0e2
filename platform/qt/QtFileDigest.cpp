// The SHA-256 of a file by Qt's QCryptographicHash, read through a descriptor opened as every
// table file is: regular only, not through a link, without blocking.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <cerrno>
#include <vector>

#include "platform/FileDigest.h"

namespace zel::platform {

std::optional<FileDigest> DigestOfFile(const std::string& hostPath) {
  const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  QCryptographicHash hash(QCryptographicHash::Sha256);
  std::vector<char> buffer(1 << 16);
  FileDigest digest;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    hash.addData(QByteArrayView(buffer.data(), got));
    digest.size += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  digest.sha256 = hash.result().toHex().toStdString();
  return digest;
}

}  // namespace zel::platform

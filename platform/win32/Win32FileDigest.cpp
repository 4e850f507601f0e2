// The SHA-256 of a file by Windows' own CNG (bcrypt.dll).
#include <windows.h>
// bcrypt.h needs windows.h first.
#include <bcrypt.h>

#include <vector>

#include "platform/FileDigest.h"

namespace zel::platform {

std::optional<FileDigest> DigestOfFile(const std::string& hostPath) {
  HANDLE file = CreateFileA(hostPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::optional<FileDigest> result;
  if (GetFileType(file) == FILE_TYPE_DISK &&
      BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
      BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
    std::vector<unsigned char> buffer(1 << 16);
    FileDigest digest;
    bool ok = true;
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        ok = false;
        break;
      }
      if (got == 0) break;
      if (BCryptHashData(hash, buffer.data(), got, 0) != 0) {
        ok = false;
        break;
      }
      digest.size += got;
    }
    unsigned char sum[32];
    if (ok && BCryptFinishHash(hash, sum, sizeof sum, 0) == 0) {
      static const char* kHex = "0123456789abcdef";
      for (const unsigned char c : sum) {
        digest.sha256 += kHex[c >> 4];
        digest.sha256 += kHex[c & 15];
      }
      result = digest;
    }
  }
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  CloseHandle(file);
  return result;
}

}  // namespace zel::platform

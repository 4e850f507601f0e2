#pragma once
// memcmp's order for the short keys of a table, eight bytes at a time without a call: called for
// every record and entry of a walk, by the verifier and by salvage.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zel::engine {

inline int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  static_assert(std::endian::native == std::endian::little, "words are swapped to compare");
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
  }
  for (; n > 0; ++a, ++b, --n)
    if (*a != *b) return *a < *b ? -1 : 1;
  return 0;
}

}  // namespace zel::engine

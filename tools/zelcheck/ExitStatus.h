#pragma once
// zelcheck's exit statuses, the same in every mode.
namespace zel::zelcheck {

inline constexpr int kUsable = 0;    // all usable (or, for listings, listed)
inline constexpr int kUnusable = 1;  // a table or index is unusable
inline constexpr int kBadUse = 2;    // bad arguments, or a file or folder that cannot be read

}  // namespace zel::zelcheck

#pragma once
// The fault layer is preloaded, so in a sanitizer build it comes before the sanitizer's runtime in
// the load order; the runtime refuses that unless its options say it is meant.
#include <QString>

namespace zel::test {

// `options` (the current ASAN_OPTIONS) with the load-order check turned off.
inline QString AsanOptionsAllowingPreload(const QString& options) {
  return (options.isEmpty() ? QString() : options + ":") + "verify_asan_link_order=0";
}

}  // namespace zel::test

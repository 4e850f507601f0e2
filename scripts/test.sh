#!/bin/sh
# Installs what ZelUtil needs, builds it and runs the whole test suite; then does the same again
# with AddressSanitizer and UndefinedBehaviorSanitizer, after a minute of fuzzing the table
# verifier. The Windows programs are cross-built first (MinGW-w64, 64- and 32-bit, with their
# installers) and the normal build's suite runs the 64-bit ones and the installer under Wine
# beside the Linux ones; the 32-bit ones are checked statically (this Wine runs no 32-bit code). Every stage runs even when an earlier one has
# failures; the exit status is non-zero when any had one. Usage: sudo ./scripts/test.sh
# ZEL_JOBS=N limits the parallel jobs (default: the number of CPUs). The tests look for the
# Borland sample tables in $ZEL_SAMPLES_DIR, else ../shared/samples, and skip the comparisons
# with them when missing (ZEL_REQUIRE_SAMPLES=1 makes that a failure); the end of the output
# lists what was skipped.
. "$(dirname "$0")/common.sh"

zel_install_packages
zel_install_packages "$ZEL_ROOT/scripts/packages-windows.txt"
failed=""
windows_started=$(date +%s)
zel_build_windows "$ZEL_ROOT/build/windows"
zel_say "The Windows cross-builds and packing took $(($(date +%s) - windows_started)) s (their" \
  "tests under Wine run in the release build's suite, label windows; ctest's label summary" \
  "gives their time)"
zel_build "$ZEL_ROOT/build/release" -DZEL_WINDOWS_DIR="$ZEL_ROOT/build/windows" \
  -DZEL_WINDOWS32_DIR="$ZEL_ROOT/build/windows-x86"
zel_test "$ZEL_ROOT/build/release" || failed="$failed release"
# A minute of coverage-guided fuzzing of the table verifier (clang's libFuzzer), seeded with
# tables the project makes and the sample tables when present.
zel_build "$ZEL_ROOT/build/fuzz" -DCMAKE_CXX_COMPILER=clang++ -DZEL_FUZZ=ON -DZEL_SANITIZE=ON \
  -DZEL_BENCH=OFF -- fuzz_verifier
zel_ctest "$ZEL_ROOT/build/fuzz" --output-on-failure -R '^fuzz_' || failed="$failed fuzz"
zel_build "$ZEL_ROOT/build/sanitize" -DZEL_SANITIZE=ON -DZEL_BENCH=OFF
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ZEL_ROOT/scripts/lsan.supp} \
  zel_test "$ZEL_ROOT/build/sanitize" || failed="$failed sanitizer"
# Tests that were skipped, and why (Borland sample tables missing, running as root, ...).
for stage in release fuzz sanitize; do
  zel_say "Skipped in the $stage build:"
  zel_skipped "$ZEL_ROOT/build/$stage" >&2
done
if [ -n "$failed" ]; then
  zel_die "tests failed in the build(s):$failed (see the output above)"
fi
zel_say "All tests passed (release, fuzzing and sanitizer builds)."

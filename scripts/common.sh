# Shared by demo.sh, test.sh and the CI entry point. Source it; do not run it.
set -eu

ZEL_ROOT=$(cd "$(dirname "$0")/.." && pwd)
ZEL_JOBS=${ZEL_JOBS:-$(nproc 2>/dev/null || echo 2)}

zel_say() { printf '==> [%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
zel_die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# Runs a command as root: directly when already root (CI, containers), else through sudo.
zel_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    zel_die "installing packages needs root: run this script as root or install sudo"
  fi
}

# Runs a command as the user who called sudo, so the build tree does not end up owned by root.
zel_as_user() {
  if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    sudo -u "$SUDO_USER" -E -- "$@"
  else
    "$@"
  fi
}

# Installs every package in scripts/packages.txt (the one list of them), or in the list given
# (scripts/packages-windows.txt: the Windows build's).
zel_install_packages() {
  list=${1:-$ZEL_ROOT/scripts/packages.txt}
  packages=$(sed -e 's/#.*//' "$list" | tr -s ' \n' ' ')
  zel_say "Installing packages: $packages"
  zel_as_root env DEBIAN_FRONTEND=noninteractive apt-get update
  # shellcheck disable=SC2086  # one word per package
  zel_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $packages
}

# zel_build DIR [cmake options...] [-- targets...]
zel_build() {
  dir=$1
  shift
  options=""
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    options="$options $1"
    shift
  done
  [ $# -gt 0 ] && shift
  zel_say "Configuring $dir"
  # shellcheck disable=SC2086
  zel_as_user cmake -S "$ZEL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $options
  zel_say "Building $dir ($ZEL_JOBS jobs)"
  if [ $# -gt 0 ]; then
    zel_as_user cmake --build "$dir" -j "$ZEL_JOBS" --target "$@"
  else
    zel_as_user cmake --build "$dir" -j "$ZEL_JOBS"
  fi
}

# The Borland sample tables are looked for when the tests run: $ZEL_SAMPLES_DIR, else
# ../shared/samples beside the checkout. Tests that compare with them skip without them, or fail
# when ZEL_REQUIRE_SAMPLES=1 (CI). A relative ZEL_SAMPLES_DIR is taken from where the script runs.
case "${ZEL_SAMPLES_DIR:-}" in
  "" | /*) ;;
  *) ZEL_SAMPLES_DIR=$(pwd)/$ZEL_SAMPLES_DIR ;;
esac

# zel_ctest DIR [ctest options...]: ctest as the user, with the samples variables passed through
# sudo, and every test's output kept in DIR/ctest-results.xml for zel_skipped.
zel_ctest() {
  dir=$1
  shift
  rm -f "$dir/ctest-results.xml"
  (cd "$dir" && zel_as_user env ZEL_SAMPLES_DIR="${ZEL_SAMPLES_DIR:-}" \
    ZEL_REQUIRE_SAMPLES="${ZEL_REQUIRE_SAMPLES:-}" \
    ctest --output-junit "$dir/ctest-results.xml" --test-output-size-passed 4000000 "$@")
}

# zel_test DIR: the whole suite, with the output of any failing test.
zel_test() {
  zel_say "Testing $1"
  zel_ctest "$1" --output-on-failure -j "$ZEL_JOBS"
}

# zel_skipped DIR: what the last ctest run in DIR skipped and why (the SKIP lines of QtTest and of
# the fuzz seed script), one line per test function and reason, rows counted.
zel_skipped() {
  if [ ! -f "$1/ctest-results.xml" ]; then
    echo "  (no test results in $1)"
    return
  fi
  grep -h 'SKIP   : ' "$1/ctest-results.xml" | awk '
    {
      sub(/.*SKIP   : /, "")
      gsub(/&quot;/, "\""); gsub(/&apos;/, "'"'"'"); gsub(/&lt;/, "<"); gsub(/&gt;/, ">")
      gsub(/&amp;/, "\\&")
      match($0, /^[^ (]+/)
      fn = substr($0, 1, RLENGTH)
      rest = substr($0, RLENGTH + 1)
      row = ""
      why = substr(rest, 2)
      if (substr(rest, 1, 1) == "(" && (i = index(rest, ") ")) > 0) {
        row = substr(rest, 2, i - 2)
        why = substr(rest, i + 2)
      }
      key = fn SUBSEP why
      if (!(key in n)) order[++k] = key
      n[key]++
      rows[key] = row
    }
    END {
      for (j = 1; j <= k; j++) {
        split(order[j], p, SUBSEP)
        if (n[order[j]] > 1) print "  " p[1] " (" n[order[j]] " rows): " p[2]
        else if (rows[order[j]] != "") print "  " p[1] "(" rows[order[j]] "): " p[2]
        else print "  " p[1] ": " p[2]
      }
      if (k == 0) print "  nothing"
    }'
}

# The product's version, as the top CMakeLists.txt's project() gives it.
zel_version() {
  sed -n 's/^project(ZelUtil VERSION \([0-9.]*\).*/\1/p' "$ZEL_ROOT/CMakeLists.txt"
}

# zel_build_windows DIR: cross-builds the Windows programs with MinGW-w64, 64-bit into DIR (its
# bin/ holds the programs and DLLs, probes/ the test programs) and 32-bit into DIR-x86 (the
# programs and DLLs only), then packs each into DIR: ZelUtil-windows-x64.zip and -x86.zip, and the
# installers ZelUtil-VERSION-x64.msi and -x86.msi. Each stage's seconds are said as it ends.
zel_build_windows() {
  dir=$1
  version=$(zel_version)
  started=$(date +%s)
  zel_say "Configuring $dir (Windows 64-bit, MinGW-w64)"
  zel_as_user cmake -S "$ZEL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ZEL_ROOT/cmake/toolchains/mingw-w64-x86_64.cmake"
  zel_say "Building $dir ($ZEL_JOBS jobs)"
  zel_as_user cmake --build "$dir" -j "$ZEL_JOBS"
  zel_say "The 64-bit Windows build took $(($(date +%s) - started)) s"
  started=$(date +%s)
  zel_say "Configuring $dir-x86 (Windows 32-bit, MinGW-w64)"
  zel_as_user cmake -S "$ZEL_ROOT" -B "$dir-x86" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ZEL_ROOT/cmake/toolchains/mingw-w64-i686.cmake"
  zel_say "Building $dir-x86 ($ZEL_JOBS jobs): the programs and DLLs only"
  zel_as_user cmake --build "$dir-x86" -j "$ZEL_JOBS" --target ZelUtil zelutil-console zelcheck \
    zel-demostation Files Index
  zel_say "The 32-bit Windows build took $(($(date +%s) - started)) s"
  started=$(date +%s)
  for arch in x64 x86; do
    bin=$dir/bin
    [ "$arch" = x86 ] && bin=$dir-x86/bin
    rm -f "$dir/ZelUtil-windows-$arch.zip"
    (cd "$bin" && zel_as_user cmake -E tar cf "$dir/ZelUtil-windows-$arch.zip" --format=zip -- \
      ZelUtil.exe zelutil-console.exe zelcheck.exe zel-demostation.exe Files.dll Index.dll)
    zel_as_user "$ZEL_ROOT/packaging/windows/make-msi.sh" "$bin" "$arch" "$version" \
      "$dir/ZelUtil-$version-$arch.msi"
  done
  zel_say "Packed $dir/ZelUtil-windows-x64.zip, ZelUtil-windows-x86.zip," \
    "ZelUtil-$version-x64.msi and ZelUtil-$version-x86.msi in $(($(date +%s) - started)) s"
}

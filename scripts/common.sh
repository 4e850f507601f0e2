# Shared by demo.sh, test.sh and the CI entry point. Source it; do not run it.
set -eu

ZEL_ROOT=$(cd "$(dirname "$0")/.." && pwd)
ZEL_JOBS=${ZEL_JOBS:-$(nproc 2>/dev/null || echo 2)}

zel_say() { printf '==> %s\n' "$*" >&2; }
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

# Installs every package in scripts/packages.txt (the one list of them).
zel_install_packages() {
  packages=$(sed -e 's/#.*//' "$ZEL_ROOT/scripts/packages.txt" | tr -s ' \n' ' ')
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
  # Tests that compare with real Borland-made tables find them here; without them those tests fail.
  if [ -n "${ZEL_SAMPLES_DIR:-}" ]; then options="$options -DZEL_SAMPLES_DIR=$ZEL_SAMPLES_DIR"; fi
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

# zel_test DIR: the whole suite, with the output of any failing test.
zel_test() {
  zel_say "Testing $1"
  (cd "$1" && zel_as_user ctest --output-on-failure -j "$ZEL_JOBS")
}

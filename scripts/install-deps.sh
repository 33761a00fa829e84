#!/usr/bin/env bash
# Installs the Debian packages Quorvel needs.
#   scripts/install-deps.sh --run       what building and running the program needs, nothing more
#   scripts/install-deps.sh --package   that, and what making its Debian package needs
#   scripts/install-deps.sh             everything: also the tests, sanitizers, fuzzers, the Windows
#                                       cross-compile check, the package checks and the benchmark
# Idempotent: when everything is already there it only checks, which takes well under a second.
set -euo pipefail

run_packages=(
  cmake ninja-build g++
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
)

# dpkg-shlibdeps (in dpkg-dev) computes the package's dependencies; CPack finds the programs to
# give it with file.
package_packages=(
  "${run_packages[@]}"
  dpkg-dev file
)

full_packages=(
  "${package_packages[@]}"
  make pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  dbus dbus-bin dbus-daemon
  mpv mpv-mpris
  xvfb openbox trayer xdotool x11-utils
  socat dante-server curl linux-perf
  g++-mingw-w64-x86-64-posix
  appstream desktop-file-utils lintian systemd
)

case "${1:-}" in
  --run) packages=("${run_packages[@]}") ;;
  --package) packages=("${package_packages[@]}") ;;
  "") packages=("${full_packages[@]}") ;;
  *) echo "usage: $0 [--run | --package]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs every Debian package Korvane's builds and checks use: the build,
# the tests and their optional tools, fuzzing, the Windows build, benchmarks
# and the style gates. Installs only what is missing (apt-get update first, as
# a fresh machine has no package lists), so running it again does nothing.
# Needs root when something is missing.
#
#   tools/install-deps.sh          install what is missing
#   tools/install-deps.sh --check  list what is missing; exit 1 if anything is
set -euo pipefail

packages=(
  g++ cmake ninja-build                              # the program
  libgtest-dev zlib1g-dev                            # the tests
  libdeflate-dev zopfli pigz 7zip tango-icon-theme   # real-compressor tests
  dpkg-dev file man-db                               # package and manual page tests
  clang libclang-rt-14-dev                           # fuzzing
  g++-mingw-w64-x86-64 wine64                        # Windows build and its tests
  libbenchmark-dev hyperfine libjpeg-turbo-progs     # benchmarks, and their real images:
  desktop-base lomiri-wallpapers-20.04               #   artwork PNGs, JPEG photos
  clang-format clang-tidy clang-tools                # style gates
)

case "${1:-}" in
  "" | --check) ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages are installed"
  exit 0
fi
if [ "${1:-}" = --check ]; then
  echo "install-deps: missing ${missing[*]}"
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing ${missing[*]}; run as root: sudo $0" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"

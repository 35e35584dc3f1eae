#!/usr/bin/env bash
# Installs every Debian package Korvane's builds and checks use: the build,
# the tests and their optional tools, fuzzing, the Windows, arm64, s390x and
# libc++ builds, benchmarks and the style gates. Installs only what is missing
# (apt-get update first, as a fresh machine has no package lists), so running
# it again does nothing. Needs root when something is missing.
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
  g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user  # arm64 and s390x builds, their tests under qemu
  libc++-dev libc++abi-dev googletest                # clang with libc++ (GoogleTest built from its sources)
  libbenchmark-dev hyperfine libjpeg-turbo-progs     # benchmarks, and their real images:
  desktop-base lomiri-wallpapers-20.04               #   artwork PNGs, JPEG photos
  clang-format clang-tidy clang-tools                # style gates
)

case "${1:-}" in
  "" | --check) ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

# The cross targets' zlib for their tests (Debian architecture:GNU triplet):
# the target's own zlib1g-dev, its headers and static library unpacked into
# /usr/local/TRIPLET beside the cross tool chain's /usr/TRIPLET. Installed
# through multiarch instead, it would have to match the host's zlib1g version
# exactly, which s390x cannot: bookworm's security archive no longer builds
# it. The architecture's package list is fetched for this alone
# (APT::Architectures), so dpkg's own architectures stay as they are.
targets=(arm64:aarch64-linux-gnu s390x:s390x-linux-gnu)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
names=("${missing[@]}")
missing_targets=()
for target in "${targets[@]}"; do
  [ -f "/usr/local/${target#*:}/lib/libz.a" ] && continue
  missing_targets+=("$target")
  names+=("zlib1g-dev:${target%%:*}")
done

if [ ${#names[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages and ${#targets[@]} target zlibs are installed"
  exit 0
fi
if [ "${1:-}" = --check ]; then
  echo "install-deps: missing ${names[*]}"
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing ${names[*]}; run as root: sudo $0" >&2
  exit 1
fi

echo "install-deps: installing ${names[*]}"
export DEBIAN_FRONTEND=noninteractive
architectures=()
for target in "${missing_targets[@]}"; do architectures+=(-o "APT::Architectures::=${target%%:*}"); done
apt-get update -qq "${architectures[@]}"
[ ${#missing[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
for target in "${missing_targets[@]}"; do
  arch=${target%%:*} triplet=${target#*:}
  scratch=$(mktemp -d)
  chown _apt "$scratch" 2>/dev/null || true  # apt downloads as _apt where it can
  (cd "$scratch" && apt-get download -qq "${architectures[@]}" "zlib1g-dev:$arch" && dpkg-deb -x zlib1g-dev_*.deb root)
  install -D -m 644 -t "/usr/local/$triplet/include" "$scratch"/root/usr/include/{zlib,zconf}.h
  install -D -m 644 -t "/usr/local/$triplet/lib" "$scratch/root/usr/lib/$triplet/libz.a"
  rm -rf "$scratch"
done
echo "install-deps: done"

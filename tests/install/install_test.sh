#!/usr/bin/env bash
# Installs Korvane the way a user would and runs the installed program on the
# shipped sample: its report and PNG must equal the build tree's, and
# `man Korvane` must find the manual page.
#
#   install_test.sh prefix BUILD_DIR SOURCE_DIR   # cmake --install into a scratch prefix
#   install_test.sh deb BUILD_DIR SOURCE_DIR      # cpack a .deb, check its contents, unpack it
#
# Without the tools it needs it exits 77 (CTest's SKIP_RETURN_CODE) naming the
# Debian packages, and notes them in KORVANE_MISSING_DIR; with
# KORVANE_REQUIRE_ALL_TOOLS=1 it fails instead. CMAKE_COMMAND and CPACK_COMMAND
# name the cmake and cpack of the build (default: those on PATH);
# KORVANE_DEB_ARCH, if set, the package's architecture.
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
cmake=${CMAKE_COMMAND:-cmake}
cpack=${CPACK_COMMAND:-cpack}
# man's rendering and the tools' messages must not depend on the caller's locale.
export LC_ALL=C.UTF-8
unset LANGUAGE

# man (man-db) for the manual page; the package also needs dpkg-shlibdeps
# (dpkg-dev) and `file`, which CPack runs for the dependencies.
needs=("man man-db")
if [ "$mode" = deb ]; then needs+=("dpkg-shlibdeps dpkg-dev" "file file" "dpkg-deb dpkg"); fi
if [ -n "${KORVANE_TEST_WRAPPER:-}" ]; then needs+=("${KORVANE_TEST_WRAPPER%% *} qemu-user"); fi
missing=()
for need in "${needs[@]}"; do
  command -v "${need% *}" >/dev/null || missing+=("${need#* }")
done
[ ${#missing[@]} -eq 0 ] || exec bash "$source/tests/support/missing.sh" "Install.$mode" "${missing[@]}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case "$mode" in
  prefix)
    "$cmake" --install "$build" --prefix "$scratch/root/usr" >/dev/null
    ;;
  deb)
    (cd "$build" && "$cpack" -G DEB -B "$scratch/package" >/dev/null)
    deb=$(ls "$scratch"/package/*.deb)
    [ "$(dpkg-deb -f "$deb" Package)" = korvane ] || fail "package name"
    [ -z "${KORVANE_DEB_ARCH:-}" ] || [ "$(dpkg-deb -f "$deb" Architecture)" = "$KORVANE_DEB_ARCH" ] ||
      fail "package architecture $(dpkg-deb -f "$deb" Architecture)"
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
    expected="./usr/bin/Korvane ./usr/share/doc/korvane/LICENSE ./usr/share/doc/korvane/README.md ./usr/share/man/man1/Korvane.1.gz "
    [ "$files" = "$expected" ] || fail "package files: $files"
    dpkg-deb -x "$deb" "$scratch/root"
    ;;
  *) fail "unknown mode $mode" ;;
esac

installed=$scratch/root/usr/bin/Korvane
[ -x "$installed" ] || fail "no executable at $installed"
page=$(MANPATH="$scratch/root/usr/share/man" man -w Korvane) || fail "man finds no page"
[ "$page" = "$scratch/root/usr/share/man/man1/Korvane.1.gz" ] || fail "man found $page"
MANPATH="$scratch/root/usr/share/man" MANWIDTH=80 man Korvane 2>/dev/null | grep -q "Korvane - recover the PNG image stored in a Tessel container" ||
  fail "manual page does not render"

# Same arguments, same working directory: the reports must match byte for byte.
# A cross build's programs run under KORVANE_TEST_WRAPPER (qemu).
run() {
  mkdir -p "$scratch/run-$1"
  # shellcheck disable=SC2086 # the wrapper is words
  (cd "$scratch/run-$1" && ${KORVANE_TEST_WRAPPER:-} "$2" "$source/examples/sample.tessel" out.png >stdout 2>stderr; echo $? >status)
}
run built "$build/app/Korvane"
run installed "$installed"
for f in stdout stderr status out.png; do
  cmp -s "$scratch/run-built/$f" "$scratch/run-installed/$f" || fail "$f differs from the build tree's"
done
[ "$(cat "$scratch/run-installed/status")" = 0 ] || fail "exit status"
echo "ok: $mode"

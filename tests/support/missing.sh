#!/usr/bin/env bash
# A test that cannot run for want of Debian packages: notes each package for
# the summary line after the run (KORVANE_MISSING_DIR), names them, and skips
# with exit status 77 (the tests' SKIP_RETURN_CODE) or, with
# KORVANE_REQUIRE_ALL_TOOLS=1, fails.
#
#   missing.sh TEST_NAME PACKAGE...
set -euo pipefail
test=$1
shift
if [ -n "${KORVANE_MISSING_DIR:-}" ]; then
  mkdir -p "$KORVANE_MISSING_DIR"
  for package; do echo "$test" >>"$KORVANE_MISSING_DIR/$package"; done
fi
why="missing Debian packages: $*; install with: apt-get install $*, or everything with tools/install-deps.sh"
if [ "${KORVANE_REQUIRE_ALL_TOOLS:-}" = 1 ]; then
  echo "FAIL: $why" >&2
  exit 1
fi
echo "SKIP: $why"
exit 77

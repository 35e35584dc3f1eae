#!/usr/bin/env bash
# Style gates: clang-format on every C++ file, then clang-tidy (.clang-tidy) on
# every translation unit of the builds that exist (dev, bench, fuzz presets).
# Fails on the first difference or finding.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

echo "== clang-format"
git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

declare -A sources=([dev]="(app|decoder|platform|tools|tests)/" [bench]="bench/" [fuzz]="fuzz/")
for preset in dev bench fuzz; do
  database=build/$preset/compile_commands.json
  if [ ! -f "$database" ]; then
    echo "== clang-tidy: no $database, skipped (configure the $preset preset first)"
    continue
  fi
  echo "== clang-tidy: $preset"
  log=build/$preset/clang-tidy.log
  if ! run-clang-tidy -p "build/$preset" -quiet "$root/${sources[$preset]}" >"$log" 2>&1; then
    grep -E '(warning|error):' -A3 "$log" | sed 's/\x1b\[[0-9;]*m//g'
    exit 1
  fi
done
echo "== lint: clean"

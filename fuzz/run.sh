#!/usr/bin/env bash
# Runs every fuzz target for a while and fails on the first finding.
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [PARALLEL_TARGETS]
#
# Builds the `fuzz` preset, writes seed inputs with the project's container
# writer, then runs the targets (several at once if asked), each with its own
# corpus under build/fuzz/corpus/. Crashes are saved there as crash-*.
set -euo pipefail
seconds=${1:-120}
parallel=${2:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bin=build/fuzz/fuzz
work=build/fuzz/corpus
# Seeds made by tessel-pack: zlib streams (a one-block container's stream) of
# pieces of the README at every level and strategy and with mixed block kinds,
# and containers of 1 to 3 blocks holding the sample's PNG after a preamble.
pack=build/fuzz/tools/tessel-pack
seeds=$work/seeds
mkdir -p "$seeds/streams" "$seeds/containers"
for size in 0 1 40 300 2000; do
  head -c $size README.md >"$seeds/input"
  for how in "--mixed" "--level "{0,1,6,9}" --strategy "{default,fixed,huffman,rle}; do
    # shellcheck disable=SC2086 # $how is options
    "$pack" $how "$seeds/input" "$seeds/container"
    tail -c +33 "$seeds/container" >"$seeds/streams/$size${how// /}"
  done
done
for blocks in 1 2 3; do
  "$pack" --blocks $blocks --prefix examples/preamble.txt examples/calculator.png "$seeds/containers/$blocks"
done

run_target() {
  local name=$1 seeds=$2
  mkdir -p "$work/$name" "$work/$name-artifacts"
  local status=0
  # -close_fd_mask=3: the container target's console lines go nowhere; libFuzzer
  # and the sanitizers keep reporting on a copy of standard error.
  "$bin/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=4096 -close_fd_mask=3 \
    -artifact_prefix="$work/$name-artifacts/" "$work/$name" "$seeds" >"$work/$name.log" 2>&1 || status=$?
  echo "== fuzz_$name: $(grep -E 'stat::number_of_executed_units' "$work/$name.log" | awk '{print $2}') runs," \
    "$(grep -E '^#[0-9]+.*(DONE|cov:)' "$work/$name.log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+') " \
    "exit $status"
  if [ $status -ne 0 ]; then tail -n 40 "$work/$name.log"; fi
  return $status
}

targets=("decoder:$seeds/streams" "paths:$seeds/streams" "container:$seeds/containers")
failed=0
pids=()
for entry in "${targets[@]}"; do
  run_target "${entry%%:*}" "${entry#*:}" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$parallel" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed

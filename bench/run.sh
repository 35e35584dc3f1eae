#!/usr/bin/env bash
# Benchmarks Korvane against its peer programs (peer-libdeflate, peer-zlib) on
# the generated containers, then runs the in-process decoder benchmark.
#
#   bench/run.sh [-n ROUNDS] [-r REPETITIONS] [--no-decoder-bench] [NAME...]
#
#   -n ROUNDS        timed rounds per input (default 7, or $ROUNDS)
#   -r REPETITIONS   decoder-bench repetitions (default 5, or $REPETITIONS)
#   --no-decoder-bench   skip the in-process benchmark
#   NAME...          only these inputs (png-compressed png-stored-l9
#                    photo-rows-l6 text-l9 blocks-4k)
#
# Data goes to $KORVANE_BENCH_DATA (default build/bench/data) and is generated
# when missing. The programs write their output files under
# $KORVANE_BENCH_WORK (default build/bench); a tmpfs such as /dev/shm keeps
# disk write-back out of the timings. Each round runs the three programs one
# after another, starting with a different one each round; a first, untimed
# round warms the caches and is where the outputs are compared.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${ROUNDS:-7}
repetitions=${REPETITIONS:-5}
micro=1
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) rounds=$2; shift 2 ;;
    -r) repetitions=$2; shift 2 ;;
    --no-decoder-bench) micro=0; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) names+=("$1"); shift ;;
  esac
done
all=(png-compressed png-stored-l9 photo-rows-l6 text-l9 blocks-4k)
[ ${#names[@]} -gt 0 ] || names=("${all[@]}")

cd "$root"
echo "== building (preset bench)"
cmake --preset bench >/dev/null
cmake --build --preset bench | tail -n 1
bin=$root/build/bench
data=${KORVANE_BENCH_DATA:-$root/build/bench/data}
case "$data" in /*) ;; *) data=$root/$data ;; esac

missing=()
for name in "${names[@]}"; do [ -f "$data/$name.tessel" ] || missing+=("$name"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== generating ${missing[*]} in $data"
  "$bin/bench/make-bench-data" "$data" "${missing[@]}"
fi

programs=(korvane libdeflate zlib)
declare -A exe=([korvane]=$bin/app/Korvane [libdeflate]=$bin/bench/peer-libdeflate [zlib]=$bin/bench/peer-zlib)
work=$(mktemp -d "${KORVANE_BENCH_WORK:-$root/build/bench}/korvane-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
results=$work/results.txt
: >"$results"

echo "== $rounds timed rounds per input, programs alternating (load: $(cut -d' ' -f1-3 /proc/loadavg))"
for name in "${names[@]}"; do
  input=$data/$name.tessel
  # Warm-up round; every program runs in its own directory with the same
  # arguments, so that the reports can be compared byte for byte.
  for p in "${programs[@]}"; do
    mkdir -p "$work/$p"
    rm -f "$work/$p/out.png"
    status=0
    (cd "$work/$p" && "${exe[$p]}" "$input" out.png >stdout.txt 2>stderr.txt) || status=$?
    echo "$status" >"$work/$p/status"
  done
  verdict="outputs identical"
  for p in libdeflate zlib; do
    for f in status stdout.txt stderr.txt out.png; do
      if [ ! -e "$work/korvane/$f" ] && [ ! -e "$work/$p/$f" ]; then continue; fi
      if ! cmp -s "$work/korvane/$f" "$work/$p/$f"; then
        verdict="MISMATCH"
        echo "  $name: korvane and peer-$p differ in $f: $(cmp "$work/korvane/$f" "$work/$p/$f" 2>&1 | head -n 1)" >&2
        case "$f" in
          stdout.txt|stderr.txt) diff "$work/korvane/$f" "$work/$p/$f" | head -n 6 | sed 's/^/    /' >&2 ;;
          out.png) ls -l "$work/korvane/$f" "$work/$p/$f" 2>&1 | sed 's/^/    /' >&2 ;;
        esac
      fi
    done
  done
  [ "$(cat "$work/korvane/status")" = 0 ] || verdict="$verdict, korvane exit $(cat "$work/korvane/status")"
  decoded=$(sed -n 's/^Total decompressed: \([0-9]*\) bytes$/\1/p' "$work/korvane/stdout.txt")
  echo "  $name: $(stat -c %s "$input") bytes in, ${decoded:-?} decoded; $verdict"

  for ((round = 0; round < rounds; ++round)); do
    for ((i = 0; i < 3; ++i)); do
      p=${programs[$(((round + i) % 3))]}
      rm -f "$work/$p/out.png"
      line=$(cd "$work/$p" && "$bin/bench/bench-measure" "${exe[$p]}" "$input" out.png)
      # wall_s=S maxrss_kb=K exit=E
      read -r _ wall _ rss _ code <<<"${line//=/ }"
      echo "$name $p $wall $rss $code ${decoded:-0}" >>"$results"
    done
  done
done

echo
echo "== whole program: median of $rounds runs (wall time, peak RSS); ratios are korvane / that program"
awk -v order="${names[*]}" '
  function median(list,    n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; ++i) { t = v[i] + 0; for (j = i - 1; j >= 1 && v[j] + 0 > t; --j) v[j + 1] = v[j]; v[j + 1] = t }
    lo = v[1]; hi = v[n]
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  {
    key = $1 SUBSEP $2
    times[key] = times[key] " " $3; rss[key] = rss[key] " " $4; decoded[$1] = $6
    if ($5 != 0) failed[key] = failed[key] " exit " $5
  }
  END {
    printf "%-15s %-11s %9s %17s %9s %9s %10s %9s\n", "input", "program", "median s", "min-max s", "MB/s", "RSS MiB", "time K/x", "RSS K/x"
    n = split(order, inputs, " "); split("korvane libdeflate zlib", progs, " ")
    for (i = 1; i <= n; ++i) {
      f = inputs[i]
      for (j = 1; j <= 3; ++j) {
        key = f SUBSEP progs[j]
        t[j] = median(times[key]); tlo[j] = lo; thi[j] = hi
        r[j] = median(rss[key])
      }
      for (j = 1; j <= 3; ++j) {
        ratio = j == 1 ? sprintf("%10s %9s", "", "") : sprintf("%10.2f %9.2f", t[1] / t[j], r[1] / r[j])
        printf "%-15s %-11s %9.3f %8.3f-%-8.3f %9.1f %9.1f %s%s\n", j == 1 ? f : "", progs[j], t[j], tlo[j], thi[j],
               decoded[f] / t[j] / 1e6, r[j] / 1024, ratio, failed[f SUBSEP progs[j]]
      }
    }
  }' "$results"

[ "$micro" = 1 ] || exit 0
echo
echo "== decoder-bench: $repetitions repetitions, median decode throughput (decoded MB per CPU second)"
echo "   libdeflate and zlib check each stream's Adler-32, korvane does not; libdeflate-raw decodes the"
echo "   DEFLATE data without the zlib frame, so without that check"
filter=$(IFS='|'; echo "${names[*]}")
"$bin/bench/decoder-bench" --data-dir="$data" --benchmark_filter="/($filter)\$" \
  --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/micro.csv" --benchmark_out_format=csv >"$work/micro.log" 2>&1 || {
  cat "$work/micro.log" >&2
  exit 1
}
grep -q 'ERROR OCCURRED' "$work/micro.log" && grep 'ERROR OCCURRED' "$work/micro.log" >&2
awk -F, -v order="${names[*]}" '
  /^name,/ { for (i = 1; i <= NF; ++i) if ($i == "bytes_per_second") col = i; next }
  col && /^"/ {
    name = $1; gsub(/"/, "", name)
    split(name, parts, "/"); program = parts[1]; rest = parts[2]
    # One repetition gives plain rows, more give _mean, _median, _stddev, _cv.
    stat = "median"; input = rest
    if (rest ~ /_[a-z]+$/) { stat = rest; sub(/.*_/, "", stat); sub(/_[a-z]+$/, "", input) }
    if (stat == "median") rate[input, program] = $col
    if (stat == "cv") cv[input, program] = $col
  }
  END {
    printf "%-15s %-14s %11s %7s %10s\n", "input", "decoder", "median MB/s", "cv %", "time K/x"
    n = split(order, inputs, " "); split("korvane libdeflate zlib libdeflate-raw", progs, " ")
    for (i = 1; i <= n; ++i)
      for (j = 1; j <= 4; ++j) {
        f = inputs[i]; p = progs[j]
        if (!((f, p) in rate)) { printf "%-15s %-14s %11s\n", j == 1 ? f : "", p, "failed"; continue }
        ratio = j == 1 || !((f, "korvane") in rate) ? "" : sprintf("%10.2f", rate[f, p] / rate[f, "korvane"])
        printf "%-15s %-14s %11.1f %7.1f %s\n", j == 1 ? f : "", p, rate[f, p] / 1e6, cv[f, p] * 100, ratio
      }
  }' "$work/micro.csv"

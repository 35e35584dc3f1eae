#!/usr/bin/env bash
# Benchmarks Korvane against its peer programs (peer-libdeflate, peer-zlib):
# whole runs on large containers made from real files, hyperfine timings on
# small files, then the in-process decoder benchmark.
#
#   bench/run.sh [-n ROUNDS] [-s RUNS] [-r REPETITIONS] [--no-decoder-bench] [--small-only] [NAME...]
#
#   -n ROUNDS            timed rounds per large input (default 7, or $ROUNDS)
#   -s RUNS              hyperfine runs per program and small file (default 300, or $SMALL_RUNS)
#   -r REPETITIONS       decoder-bench repetitions (default 5, or $REPETITIONS)
#   --no-decoder-bench   skip the in-process benchmark
#   --small-only         only the small files
#   NAME...              only these inputs; large: png-compressed png-stored-l9
#                        photo-rows-l6 text-l9 blocks-4k blocks-1430 stored-1430;
#                        small: sample (examples/sample.tessel) small-preview
#
# Data goes to $KORVANE_BENCH_DATA (default build/bench/data) and is made by
# make-bench-data when missing, from files of Debian packages (README,
# Benchmarks). The programs write their output files under
# $KORVANE_BENCH_WORK (default build/bench); a tmpfs such as /dev/shm keeps
# disk write-back out of the timings. Every input first gets one untimed run
# of each program, whose exit status, report and PNG must match byte for byte.
# Large inputs: each round runs the three programs one after another, starting
# with a different one each round, under bench-measure (wall, user and system
# time, peak RSS). Small files: hyperfine (Debian package hyperfine) runs each
# program many times after a warm-up, and bench-floor, an empty program linked
# like Korvane, shows the start-up cost no such program gets below.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${ROUNDS:-7}
small_runs=${SMALL_RUNS:-300}
repetitions=${REPETITIONS:-5}
micro=1
small_only=0
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) rounds=$2; shift 2 ;;
    -s) small_runs=$2; shift 2 ;;
    -r) repetitions=$2; shift 2 ;;
    --no-decoder-bench) micro=0; shift ;;
    --small-only) small_only=1; shift ;;
    -h|--help) sed -n '/^set -e/q; 2,$p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) names+=("$1"); shift ;;
  esac
done
all_large=(png-compressed png-stored-l9 photo-rows-l6 text-l9 blocks-4k blocks-1430 stored-1430)
all_small=(sample small-preview)
[ ${#names[@]} -gt 0 ] || names=("${all_large[@]}" "${all_small[@]}")
large=() small=()
for name in "${names[@]}"; do
  if [[ " ${all_large[*]} " == *" $name "* ]]; then
    [ "$small_only" = 1 ] || large+=("$name")
  elif [[ " ${all_small[*]} " == *" $name "* ]]; then
    small+=("$name")
  else
    echo "unknown input: $name" >&2; exit 2
  fi
done

cd "$root"
echo "== building (preset bench)"
cmake --preset bench >/dev/null
cmake --build --preset bench | tail -n 1
bin=$root/build/bench
data=${KORVANE_BENCH_DATA:-$root/build/bench/data}
case "$data" in /*) ;; *) data=$root/$data ;; esac
input_of() { if [ "$1" = sample ]; then echo "$root/examples/sample.tessel"; else echo "$data/$1.tessel"; fi; }

missing=()
for name in "${large[@]}" "${small[@]}"; do [ -f "$(input_of "$name")" ] || missing+=("$name"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== generating ${missing[*]} in $data"
  "$bin/bench/make-bench-data" "$data" "${missing[@]}"
fi

programs=(korvane libdeflate zlib)
declare -A exe=([korvane]=$bin/app/Korvane [libdeflate]=$bin/bench/peer-libdeflate [zlib]=$bin/bench/peer-zlib)
work=$(mktemp -d "${KORVANE_BENCH_WORK:-$root/build/bench}/korvane-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The untimed run: every program in its own directory with the same arguments,
# so that status, standard output, standard error and PNG compare byte for byte.
# Sets $decoded to the decoded size Korvane reports.
check() {
  local name=$1 input=$2 p f verdict="outputs identical" status
  for p in "${programs[@]}"; do
    mkdir -p "$work/$p"
    rm -f "$work/$p/out.png"
    status=0
    (cd "$work/$p" && "${exe[$p]}" "$input" out.png >stdout.txt 2>stderr.txt) || status=$?
    echo "$status" >"$work/$p/status"
  done
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
}

if [ ${#large[@]} -gt 0 ]; then
  results=$work/results.txt
  : >"$results"
  echo "== $rounds timed rounds per input, programs alternating (load: $(cut -d' ' -f1-3 /proc/loadavg))"
  for name in "${large[@]}"; do
    input=$(input_of "$name")
    check "$name" "$input"
    for ((round = 0; round < rounds; ++round)); do
      for ((i = 0; i < 3; ++i)); do
        p=${programs[$(((round + i) % 3))]}
        rm -f "$work/$p/out.png"
        line=$(cd "$work/$p" && "$bin/bench/bench-measure" "${exe[$p]}" "$input" out.png)
        # wall_s=W user_s=U sys_s=S maxrss_kb=K exit=E
        read -r _ wall _ user _ sys _ rss _ code <<<"${line//=/ }"
        echo "$name $p $wall $user $sys $rss $code ${decoded:-0}" >>"$results"
      done
    done
  done

  echo
  echo "== whole program: median of $rounds runs (wall, user and system time, peak RSS); ratios are korvane / that program"
  awk -v order="${large[*]}" '
    function median(list,    n, v, i, j, t) {  # also sets lo and hi
      n = split(list, v, " ")
      for (i = 2; i <= n; ++i) { t = v[i] + 0; for (j = i - 1; j >= 1 && v[j] + 0 > t; --j) v[j + 1] = v[j]; v[j + 1] = t }
      lo = v[1] + 0; hi = v[n] + 0
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    {
      key = $1 SUBSEP $2
      wall[key] = wall[key] " " $3; user[key] = user[key] " " $4; sys[key] = sys[key] " " $5
      rss[key] = rss[key] " " $6; decoded[$1] = $8
      if ($7 != 0) failed[key] = failed[key] " exit " $7
    }
    END {
      printf "%-15s %-11s %8s %15s %7s %7s %7s %7s %8s %7s\n", "input", "program", "median s", "min-max s",
             "user s", "sys s", "MB/s", "RSS MiB", "time K/x", "RSS K/x"
      n = split(order, inputs, " "); split("korvane libdeflate zlib", progs, " ")
      for (i = 1; i <= n; ++i) {
        f = inputs[i]
        for (j = 1; j <= 3; ++j) {
          key = f SUBSEP progs[j]
          t[j] = median(wall[key]); tlo[j] = lo; thi[j] = hi
          u[j] = median(user[key]); s[j] = median(sys[key]); r[j] = median(rss[key])
        }
        for (j = 1; j <= 3; ++j) {
          ratio = j == 1 ? "" : sprintf(" %8.2f %7.2f", t[1] / t[j], r[1] / r[j])
          printf "%-15s %-11s %8.3f %7.3f-%-7.3f %7.3f %7.3f %7.1f %7.1f%s%s\n", j == 1 ? f : "", progs[j], t[j],
                 tlo[j], thi[j], u[j], s[j], decoded[f] / t[j] / 1e6, r[j] / 1024, ratio, failed[f SUBSEP progs[j]]
        }
        verdict = thi[1] > thi[2] ? "SLOWER" : "not slower"
        printf "%-15s slowest round: korvane %.3f s, libdeflate %.3f s: korvane %s\n", "", thi[1], thi[2], verdict
      }
    }' "$results"
fi

if [ ${#small[@]} -gt 0 ]; then
  echo
  if ! command -v hyperfine >/dev/null; then
    echo "== small files: skipped, hyperfine is missing (Debian package hyperfine)"
  else
    echo "== small files: hyperfine -N, $small_runs runs per program after 20 warm-up runs (load: $(cut -d' ' -f1-3 /proc/loadavg))"
    timing=(hyperfine -N --style none --warmup 20 --runs "$small_runs")
    for name in "${small[@]}"; do
      input=$(input_of "$name")
      check "$name" "$input"
      commands=(-n floor "$(printf '%q' "$bin/bench/bench-floor")")
      for p in "${programs[@]}"; do
        commands+=(-n "$p" "$(printf '%q ' "${exe[$p]}" "$input" "$work/$p/out.png")")
      done
      "${timing[@]}" --export-json "$work/$name.json" "${commands[@]}" 2>>"$work/hyperfine.log" || {
        cat "$work/hyperfine.log" >&2
        exit 1
      }
    done
    echo
    echo "ratios are korvane / that program; floor: bench-floor, an empty program linked like Korvane"
    python3 - "$work" "${small[@]}" <<'EOF'
import json, sys
print(f"{'input':<13} {'program':<11} {'median ms':>9} {'min-max ms':>13} {'stddev':>6} {'K/x':>5} {'over floor':>10}")
for name in sys.argv[2:]:
    runs = {r["command"]: r for r in json.load(open(f"{sys.argv[1]}/{name}.json"))["results"]}
    for i, program in enumerate(("korvane", "libdeflate", "zlib", "floor")):
        r = runs[program]
        ratio = f"{runs['korvane']['median'] / r['median']:.2f}" if i else ""
        print(f"{'' if i else name:<13} {program:<11} {r['median'] * 1e3:9.3f} {r['min'] * 1e3:6.3f}-{r['max'] * 1e3:<6.3f}"
              f" {r['stddev'] * 1e3:6.3f} {ratio:>5} {(r['median'] - runs['floor']['median']) * 1e3:10.3f}")
EOF
    warnings=$(grep -o 'Warning: [A-Za-z ,]*' "$work/hyperfine.log" | sort | uniq -c | sed 's/^ */    /' || true)
    [ -z "$warnings" ] || printf 'hyperfine warnings (how often, first sentence):\n%s\n' "$warnings"
  fi
fi

[ "$micro" = 1 ] && [ ${#large[@]} -gt 0 ] || exit 0
echo
echo "== decoder-bench: $repetitions repetitions, medians: decoded MB per CPU second and CPU time per stream"
echo "   libdeflate-raw decodes the DEFLATE data without the zlib frame, so, like korvane, checks no Adler-32."
echo "   korvane decodes the next stream alongside on literal-heavy data, as the program does; korvane-one-lane never"
echo "   NAME-setup: the streams' dynamic first blocks cut to their header and end-of-block code; the time"
echo "   per stream there is what one block's set-up (code lengths read, tables built) costs"
filter=$(IFS='|'; echo "${large[*]}")
"$bin/bench/decoder-bench" --data-dir="$data" --benchmark_filter="/($filter)(-setup)?\$" \
  --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/micro.csv" --benchmark_out_format=csv >"$work/micro.log" 2>&1 || {
  cat "$work/micro.log" >&2
  exit 1
}
grep -q 'ERROR OCCURRED' "$work/micro.log" && grep 'ERROR OCCURRED' "$work/micro.log" >&2
awk -F, -v order="${large[*]}" '
  /^name,/ { for (i = 1; i <= NF; ++i) { if ($i == "bytes_per_second") rcol = i; if ($i == "\"per_stream\"") pcol = i }; next }
  pcol && /^"/ {
    name = $1; gsub(/"/, "", name)
    split(name, parts, "/"); program = parts[1]; rest = parts[2]
    # One repetition gives plain rows, more give _mean, _median, _stddev, _cv.
    stat = "median"; input = rest
    if (rest ~ /_[a-z]+$/) { stat = rest; sub(/.*_/, "", stat); sub(/_[a-z]+$/, "", input) }
    if (stat == "median") { rate[input, program] = $rcol; per[input, program] = $pcol }
    if (stat == "cv") cv[input, program] = $pcol
  }
  END {
    printf "%-18s %-16s %11s %12s %7s %10s\n", "input", "decoder", "median MB/s", "us/stream", "cv %", "time K/x"
    n = split(order, names, " "); split("korvane korvane-one-lane libdeflate-raw", progs, " ")
    for (i = 1; i <= n; ++i)
      for (setup = 0; setup <= 1; ++setup)
        for (j = 1; j <= 3; ++j) {
          f = names[i] (setup ? "-setup" : ""); p = progs[j]
          if (setup && !((f, "korvane") in per)) continue
          if (!((f, p) in per)) { printf "%-18s %-16s %11s\n", j == 1 ? f : "", p, "failed"; continue }
          ratio = j == 1 || !((f, "korvane") in per) ? "" : sprintf("%10.2f", per[f, "korvane"] / per[f, p])
          mbs = setup ? "-" : sprintf("%.1f", rate[f, p] / 1e6)
          printf "%-18s %-16s %11s %12.3f %7.1f %s\n", j == 1 ? f : "", p, mbs, per[f, p] * 1e6, cv[f, p] * 100, ratio
        }
  }' "$work/micro.csv"

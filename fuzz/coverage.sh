#!/usr/bin/env bash
# Line and branch coverage of decoder/ and app/ reached by the fuzz corpora
# (build/fuzz/corpus, filled by fuzz/run.sh): rebuilds the targets with clang's
# source-based coverage, replays each corpus once and prints llvm-cov's report.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/fuzz-coverage
cmake -S . -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_FUZZERS=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -fprofile-instr-generate -fcoverage-mapping" >/dev/null
cmake --build "$out" >/dev/null
rm -f "$out"/*.profraw
for target in decoder paths container; do
  LLVM_PROFILE_FILE="$out/$target.profraw" "$out/fuzz/fuzz_$target" -runs=0 "build/fuzz/corpus/$target" >/dev/null 2>&1
done
llvm-profdata merge -o "$out/corpora.profdata" "$out"/*.profraw
llvm-cov report -instr-profile "$out/corpora.profdata" "$out/fuzz/fuzz_decoder" \
  -object "$out/fuzz/fuzz_paths" -object "$out/fuzz/fuzz_container" "$PWD/decoder" "$PWD/app"

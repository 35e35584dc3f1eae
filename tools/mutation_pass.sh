#!/usr/bin/env bash
# Mutation pass: puts one single-line fault at a time into a private worktree,
# rebuilds the sanitizer build and runs the test suite on it. A fault that
# some test catches is KILLED, one that every test passes SURVIVED, one that
# does not compile (warnings are errors) INVALID.
#
#   tools/mutation_pass.sh [-r REV] [-w DIR] [-t SECONDS] [-o FILE] [-k] [-n REGEX] [MUTANTS]
#
#   MUTANTS     the list (default: tools/mutants.txt of this checkout)
#   -r REV      the commit whose sources and tests are mutated (default HEAD);
#               uncommitted changes of the caller's tree are not part of it
#   -w DIR      the worktree to mutate, built in DIR/build/asan (default:
#               ${TMPDIR:-/tmp}/korvane-mutation); kept for quicker reruns
#   -t SECONDS  a test running longer counts as failing: an endless loop is
#               killed (default 120)
#   -o FILE     also write the result lines to FILE
#   -k          keep going: run the whole suite per mutant and name every
#               failing test instead of stopping at the first
#   -n REGEX    only the mutants whose line matches REGEX (grep -E)
#   -c          only check the list: apply and undo each mutant, build nothing
#
# List format, one mutant a line ('#' starts a comment line):
#   path[:line] | exact original text | replacement | short description
# Fields are trimmed; write a '|' inside a field as '\|'. The original text
# must occur exactly once in the file (or on the given line). An empty
# replacement deletes the text.
#
# Tests run label by label, quick decoder tests first and the slow install
# tests last, as `ctest --preset asan` would (label huge left out), and a
# mutant's run stops at its first failing test.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel)
rev=HEAD
work=${TMPDIR:-/tmp}/korvane-mutation
test_timeout=120
results=
stop=--stop-on-failure
only=
check=
while getopts r:w:t:o:kn:c opt; do
    case $opt in
        r) rev=$OPTARG ;;
        w) work=$OPTARG ;;
        t) test_timeout=$OPTARG ;;
        o) results=$OPTARG ;;
        k) stop= ;;
        n) only=$OPTARG ;;
        c) check=1 ;;
        *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
list=$(realpath "${1:-$repo/tools/mutants.txt}")
[[ -z $results ]] || results=$(realpath "$results")
labels=(decoder app cli compressors install)
jobs=$(nproc)

# The worktree: created once, then moved to the commit asked for. Anything a
# crashed earlier run left in it is thrown away; nothing else is touched.
commit=$(git -C "$repo" rev-parse --verify "$rev^{commit}")
if [[ ! -e $work/.git ]]; then
    # --force: also when a worktree once made here was deleted without git knowing
    git -C "$repo" worktree add --force --detach "$work" "$commit" >/dev/null
else
    git -C "$work" checkout --quiet --force --detach "$commit"
    git -C "$work" clean --quiet -fd -e build
fi
build=$work/build/asan
logs=$work/build/mutation-logs
rm -rf "$logs" && mkdir -p "$logs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

configure() {
    nice cmake -S "$work" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_SANITIZE=ON \
        -DKORVANE_WARNINGS_AS_ERRORS=ON -DKORVANE_BUILD_TESTS=ON >"$logs/configure.log" 2>&1
}

compile() { nice cmake --build "$build" -j "$jobs" >"$1" 2>&1; }

# Runs the suite label by label; prints nothing and succeeds when all pass,
# otherwise prints the failing tests (the first, unless -k) and fails. Test
# processes run in a process group of their own, removed afterwards, so that
# no child of a killed test outlives its run.
run_tests() {
    local log=$1 label failed=
    : >"$log"
    for label in "${labels[@]}"; do
        timeout --kill-after=10 $((test_timeout * 20)) \
            nice ctest --test-dir "$build" -L "^$label\$" -LE '^huge$' -j "$jobs" --timeout "$test_timeout" \
            --output-on-failure $stop >>"$log" 2>&1 &
        local group=$!
        wait $group && continue
        kill -KILL -- -$group 2>/dev/null || true
        failed=$(sed -n '/The following tests FAILED:/,$p' "$log" | sed -n 's/^[[:space:]]*[0-9]* - //p' | paste -sd, -)
        echo "${failed:-ctest failed, see $log}"
        [[ -n $stop ]] && return 1
    done
    [[ -z $failed ]]
}

trim() {
    local s=$1
    s=${s#"${s%%[![:space:]]*}"}
    s=${s%"${s##*[![:space:]]}"}
    printf '%s' "${s//$'\1'/|}"
}

# Replaces the one occurrence of $2 in file $1 (on line $4 when not 0) by $3.
mutate() {
    local file=$1 orig=$2 rep=$3 only_line=$4 i n hits=0 at=-1 lines rest
    mapfile -t lines <"$file"
    for i in "${!lines[@]}"; do
        ((only_line == 0 || only_line == i + 1)) || continue
        rest=${lines[i]//"$orig"/}
        n=$(((${#lines[i]} - ${#rest}) / ${#orig}))
        if ((n > 0)); then hits=$((hits + n)) at=$i; fi
    done
    ((hits == 1)) || { echo "found $hits times"; return 1; }
    lines[at]=${lines[at]/"$orig"/"$rep"}
    printf '%s\n' "${lines[@]}" >"$file"
}

say() {
    printf '%s\n' "$*"
    [[ -z $results ]] || printf '%s\n' "$*" >>"$results"
}

[[ -z $results ]] || : >"$results"
started=$SECONDS
say "mutation pass of $(git -C "$work" log -1 --format='%h %s' | cut -c1-70)"
say "list $list, worktree $work"
if [[ -z $check ]]; then
    configure
    compile "$logs/baseline-build.log" || { echo "the unmutated tree does not build: $logs/baseline-build.log" >&2; exit 1; }
    if ! failing=$(run_tests "$logs/baseline-test.log"); then
        echo "the unmutated tree fails tests ($failing): $logs/baseline-test.log" >&2
        exit 1
    fi
    say "baseline: builds and passes, $((SECONDS - started)) s"
fi

killed=0 survived=0 invalid=0 number=0 bad=0
while IFS= read -r raw || [[ -n $raw ]]; do
    [[ $raw =~ ^[[:space:]]*(#|$) ]] && continue
    number=$((number + 1))
    [[ -z $only ]] || grep -qE -- "$only" <<<"$raw" || continue
    IFS='|' read -r f_where f_orig f_rep f_what <<<"${raw//\\|/$'\1'}"
    where=$(trim "$f_where") orig=$(trim "$f_orig") rep=$(trim "$f_rep") what=$(trim "$f_what")
    path=${where%%:*} line=0
    if [[ $where == *:* ]]; then line=${where##*:}; fi
    tag=$(printf 'M%02d %-24s %s' "$number" "$where" "$what")
    file=$work/$path
    t0=$SECONDS
    if [[ -z $orig || ! -f $file ]]; then
        say "$tag: BAD ENTRY (no such file or empty text)"
        bad=$((bad + 1))
        continue
    fi
    cp -p "$file" "$logs/original"
    if ! why=$(mutate "$file" "$orig" "$rep" "$line"); then
        say "$tag: BAD ENTRY (text $why)"
        bad=$((bad + 1))
        continue
    fi
    if [[ -n $check ]]; then
        verdict="applies: $(diff "$logs/original" "$file" | sed -n 's/^> *//p' || true)"
    elif ! compile "$logs/M$number-build.log"; then
        verdict="INVALID (does not build)"
        invalid=$((invalid + 1))
    elif failing=$(run_tests "$logs/M$number-test.log"); then
        verdict=SURVIVED
        survived=$((survived + 1))
    else
        verdict="KILLED by $failing"
        killed=$((killed + 1))
    fi
    # The restored file is newer than the objects built from the mutant, so the next build recompiles it.
    cp "$logs/original" "$file"
    say "$tag: $verdict ($((SECONDS - t0)) s)"
done <"$list"

if [[ -n $check ]]; then
    ((bad == 0)) && say "list checked: every entry applies" && exit 0
    say "list checked: some entries are refused" && exit 1
fi
say "totals: $killed killed, $survived survived, $invalid invalid, $bad refused; score $killed/$((killed + survived)); $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
say "logs in $logs"

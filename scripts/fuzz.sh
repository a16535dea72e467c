#!/bin/bash
# Builds the fuzz targets of the portable runtime (clang, libFuzzer, ASan, UBSan) and runs
# each for a fixed number of executions, starting from its seed inputs; then replays the
# inputs of faults fixed earlier. Prints one line per target: executions, findings.
#   scripts/fuzz.sh [executions-per-target] [target-name ...]
# Exit status 1 when any target found something; the findings stay in build/fuzz/findings.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
runs=${1:-100000}
shift || true
cd "$root"

cmake --preset fuzz >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for src in tests/fuzz/fuzz_*.cpp; do
        targets+=("$(basename "$src" .cpp)")
    done
fi
cmake --build build/fuzz -j"$(nproc)" --target "${targets[@]}" >/dev/null

work="$root/build/fuzz/work"
findings="$root/build/fuzz/findings"
mkdir -p "$findings"
status=0
rows=()
for t in "${targets[@]}"; do
    area=${t#fuzz_}
    exe="build/fuzz/tests/fuzz/$t"
    log="build/fuzz/$t.log"
    corpus="$work/$area"
    rm -rf "$corpus"
    mkdir -p "$corpus" "$findings/$area"
    seeds=()
    [ -d "tests/fuzz/corpus/$area" ] && seeds+=("tests/fuzz/corpus/$area")

    found=0
    # The fixed faults first: each must pass now.
    replayed=0
    if [ -d "tests/fuzz/regressions/$area" ] && [ -n "$(ls -A "tests/fuzz/regressions/$area")" ]; then
        replayed=$(ls -A "tests/fuzz/regressions/$area" | wc -l)
        if ! "$exe" "tests/fuzz/regressions/$area"/* >"$log.regressions" 2>&1; then
            echo "fuzz: $t fails a regression input, see $log.regressions" >&2
            found=$((found + 1))
        fi
    fi

    # -runs counts the executions after the seed inputs have been read.
    set +e
    "$exe" -runs="$runs" -seed=1 -max_len=4096 -timeout=10 -rss_limit_mb=1024 \
        -artifact_prefix="$findings/$area/" -print_final_stats=1 \
        "$corpus" "${seeds[@]}" >"$log" 2>&1
    rc=$?
    set -e
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    [ -n "$executed" ] || executed=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
    [ -n "$executed" ] || executed=?
    if [ $rc -ne 0 ]; then
        found=$((found + 1))
        echo "fuzz: $t stopped with a finding (exit $rc), see $log and $findings/$area" >&2
        grep -m3 -E 'ERROR|runtime error|property failed' "$log" >&2 || true
    fi
    [ $found -eq 0 ] || status=1
    rows+=("$(printf '%-16s %12s %10s %9s' "$t" "$executed" "$replayed" "$found")")
done

printf '%-16s %12s %10s %9s\n' target executions replayed findings
printf '%s\n' "${rows[@]}"
exit $status

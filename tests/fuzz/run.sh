#!/usr/bin/env bash
# Runs each fuzz target from its seeds with a fixed seed and a fixed number of runs (about
# 20 s each here), so that a run is repeatable; a crash or sanitizer report fails it.
# Usage: tests/fuzz/run.sh BUILD_DIR (the fuzz preset's tests/fuzz folder)
set -uo pipefail
build="$1"
corpus="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/corpus"
declare -A runs=([profile_file]=12000 [address]=400000 [number_rule]=5000000 [options]=2000000)
passed=0
failed=0
for target in profile_file address number_rule options; do
    found="$(mktemp -d)" # new inputs go here, never into the seeds in the repository
    start=$(date +%s%N)
    if "$build/fuzz_$target" -seed=1 -runs="${runs[$target]}" -max_len=4096 "$found" \
        "$corpus/$target" >"$found.log" 2>&1; then
        ms=$((($(date +%s%N) - start) / 1000000))
        printf 'fuzz %s: %s runs in %d.%01d s, no finding\n' "$target" "${runs[$target]}" \
            $((ms / 1000)) $((ms % 1000 / 100))
        passed=$((passed + 1))
    else
        echo "fuzz $target: FAILED"
        tail -40 "$found.log"
        failed=$((failed + 1))
    fi
    rm -rf "$found" "$found.log"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

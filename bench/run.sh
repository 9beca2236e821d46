#!/usr/bin/env bash
# Runs the benchmark on an Xvfb display with openbox of its own, then stops that display.
# Usage: bench/run.sh [build folder, default build/release] [driver options, e.g. --idle-seconds=10]
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh" # sets -euo pipefail, cds to the root

build="$(cd "${1:-build/release}" && pwd)"
[ $# -gt 0 ] && shift
for program in bench/bench_lumira bench/bench_ref_label bench/bench_ref_webview program/lumira; do
    if [ ! -x "$build/$program" ]; then
        echo "missing $build/$program; build the bench_lumira target first" >&2
        exit 1
    fi
done

start_virtual_display -screen 0 1920x1200x24 # room for a 1920x1080 sign
trap stop_virtual_display EXIT

"$build/bench/bench_lumira" \
    --program-dir="$build/program" \
    --ref-label="$build/bench/bench_ref_label" \
    --ref-webview="$build/bench/bench_ref_webview" \
    "$@"

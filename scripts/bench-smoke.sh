#!/usr/bin/env bash
# Runs every benchmark program briefly, to prove that each builds and runs to
# the end; no time is judged here (docs/PERFORMANCE.md has the figures).
#   bash scripts/bench-smoke.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bench="$build/bench"

if [ ! -x "$bench/bench_exchange" ]; then
  echo "bench-smoke: no benchmarks in $bench (Google Benchmark not found at configure time); skipped"
  exit 0
fi

failed=0
run() {
  local name=$1; shift
  local start=$SECONDS
  if "$@" > "$tmp/$name.out" 2>&1; then
    echo "bench-smoke: $name ran ($((SECONDS - start)) s)"
  else
    echo "bench-smoke: $name FAILED; its output:"
    cat "$tmp/$name.out"
    failed=1
  fi
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

brief=(--benchmark_min_time=0.01)
run exchange "$bench/bench_exchange" "${brief[@]}"
run exchange-probe "$bench/bench_exchange" --syscall-probe=20
run listing "$bench/bench_listing" "${brief[@]}" --benchmark_filter='/10000|Split|EndToEnd'
run memory "$bench/bench_memory" "${brief[@]}"
run service-ops "$bench/bench_service_ops" --clients 2 --ops 20 --luns 10
# One LUN, one short pass: the script and its tools work (it skips itself
# without root, tgtd or libiscsi's tools).
run tgt bash scripts/bench-tgt.sh "$build" --smoke

if [ "$failed" -ne 0 ]; then
  echo "bench-smoke: a benchmark failed"
  exit 1
fi
echo "bench-smoke: all benchmarks ran"

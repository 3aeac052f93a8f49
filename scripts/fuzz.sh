#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, ASan and UBSan in
# build-fuzz, and runs each for ZO_FUZZ_SECONDS (default 60) from its seed
# corpus in fuzz/corpus/<target>. Fails when a target crashes, leaks, times
# out on one input, or breaks one of its invariants; the input that did it is
# kept as build-fuzz/artifacts/<target>-crash-*. Prints the executions, the
# speed and the coverage of each run (docs/RELIABILITY.md has the figures).
#   ZO_FUZZ_SECONDS   seconds per target
#   ZO_FUZZ_TARGETS   which targets (default: all four)
#   ZO_JOBS           build parallelism
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${ZO_FUZZ_SECONDS:-60}
targets=${ZO_FUZZ_TARGETS:-"fuzz_frame fuzz_xml fuzz_listing fuzz_dispatch"}
jobs=${ZO_JOBS:-$(nproc)}
build=build-fuzz

# -O1 with line tables: quick to build, fast enough to fuzz, and stacks that
# name the line; assertions stay on.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DZO_BUILD_FUZZ=ON -DZO_SANITIZE=ON -DZO_BUILD_TESTS=OFF -DZO_BUILD_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
ninja -C "$build" -j "$jobs" $targets

max_len() {
  case $1 in
    fuzz_xml|fuzz_dispatch) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts"
summary=""
for target in $targets; do
  seeds=fuzz/corpus/${target#fuzz_}
  work=$build/corpus/${target#fuzz_}
  mkdir -p "$work"
  log=$build/$target.log
  printf '\n== %s for %ss\n' "$target" "$seconds"
  status=0
  "$build/fuzz/$target" "$work" "$seeds" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz.sh: $target failed (exit $status); see $log and $build/artifacts/" >&2
    exit 1
  fi
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' <<<"$done_line")
  ft=$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' <<<"$done_line")
  line=$(printf '%-14s execs %-10s exec/s %-7s cov %-6s ft %s' "$target" "$execs" "$speed" "$cov" "$ft")
  echo "$line"
  summary+="$line"$'\n'
done
printf '\n== fuzzing summary (%ss each)\n%s' "$seconds" "$summary"

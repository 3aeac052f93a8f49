#!/usr/bin/env bash
# Builds everything and passes the whole test suite, from a fresh machine:
#   1. installs the Debian packages that are missing,
#   2. the release build (with benchmarks) and every test, the tgt end-to-end
#      tests included (they need root; as another user they skip),
#   3. the benchmarks, briefly, to prove they run (no timing is judged),
#   4. the Debian packages: built, checked by lintian, installed, used and
#      purged (scripts/package-test.sh),
#   5. an AddressSanitizer + UndefinedBehaviorSanitizer build and its tests
#      (the tgt end-to-end ones too: they drive the service's tgt code),
#   6. each fuzz target for a bounded time.
# ZO_TEST_QUICK=1 stops after step 2. ZO_JOBS sets the build parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${ZO_JOBS:-$(nproc)}

bash scripts/install-deps.sh

step() { printf '\n==== %s\n' "$*"; }

step "release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j "$jobs"

step "tests"
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 600

[ "${ZO_TEST_QUICK:-0}" = 1 ] && exit 0

if [ -x scripts/bench-smoke.sh ]; then
  step "benchmarks (smoke)"
  bash scripts/bench-smoke.sh build
fi

step "Debian packages (build, lintian, install, purge)"
ZO_PACKAGE_JOBS=$jobs bash scripts/package-test.sh

step "sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZO_SANITIZE=ON -DZO_BUILD_BENCH=OFF >/dev/null
ninja -C build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 900

if [ -x scripts/fuzz.sh ]; then
  step "fuzzing (bounded)"
  ZO_FUZZ_SECONDS=${ZO_FUZZ_SECONDS:-45} bash scripts/fuzz.sh
fi
step "all passed"

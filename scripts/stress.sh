#!/usr/bin/env bash
# The long runs of the reliability tests, on demand (CI runs the short ones
# through scripts/test.sh). Each step can be sized or skipped:
#   ZO_STRESS_KILLS        SIGKILLs under load             (default 2000; CI 200)
#   ZO_STRESS_KILL_CLIENTS clients during the kills        (default 6; CI 3)
#   ZO_STRESS_TGT_KILLS    kills with a real tgtd (root)   (default 400; CI 40)
#   ZO_STRESS_CLIENTS      clients at once                 (default 16)
#   ZO_STRESS_OPERATIONS   operations per client           (default 2000; CI 1000)
#   ZO_STRESS_NAMES        random names for the validators (default 2000000; CI 100000)
#   ZO_STRESS_REPEAT       rounds of the hostile-input, slow-client, access and
#                          backend tests                   (default 5)
#   ZO_STRESS_FUZZ_SECONDS seconds per fuzz target         (default 600; CI 45)
#   ZO_STRESS_TSAN=0       skips the ThreadSanitizer build and its run of the
#                          many-clients and crash tests against a TSan service
#   ZO_RELIABILITY_SEED    repeats a run's random choices (each test prints its seed)
#   ZO_JOBS                build parallelism
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZO_JOBS:-$(nproc)}
tests="HostileInputTest SlowClientsTest AccessControlTest CrashConsistencyTest InventoryDamageTest
       ManyClientsTest NamePropertyTest TgtBackendTest TgtCrashTest"
targets=$(for t in $tests; do printf 'reliability_%s ' "$t"; done)

step() { printf '\n==== %s\n' "$*"; }

step "release build of the reliability tests"
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZO_BUILD_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
ninja -C build-rel -j "$jobs" $targets
bin=build-rel/tests/reliability

step "crash consistency: ${ZO_STRESS_KILLS:-2000} kills"
ZO_RELIABILITY_KILLS=${ZO_STRESS_KILLS:-2000} ZO_RELIABILITY_KILL_CLIENTS=${ZO_STRESS_KILL_CLIENTS:-6} \
  "$bin/reliability_CrashConsistencyTest"

step "crash consistency with a real tgtd: ${ZO_STRESS_TGT_KILLS:-400} kills (skips itself without root or tgt)"
ZO_RELIABILITY_TGT_KILLS=${ZO_STRESS_TGT_KILLS:-400} "$bin/reliability_TgtCrashTest"

step "many clients: ${ZO_STRESS_CLIENTS:-16} x ${ZO_STRESS_OPERATIONS:-2000}"
ZO_RELIABILITY_CLIENTS=${ZO_STRESS_CLIENTS:-16} ZO_RELIABILITY_OPERATIONS=${ZO_STRESS_OPERATIONS:-2000} \
  "$bin/reliability_ManyClientsTest"

step "names: ${ZO_STRESS_NAMES:-2000000} draws"
ZO_RELIABILITY_NAMES=${ZO_STRESS_NAMES:-2000000} "$bin/reliability_NamePropertyTest"

step "hostile input, slow clients, access control, damaged inventories, backends: ${ZO_STRESS_REPEAT:-5} rounds"
for t in HostileInputTest SlowClientsTest AccessControlTest InventoryDamageTest TgtBackendTest; do
  "$bin/reliability_$t" --gtest_repeat="${ZO_STRESS_REPEAT:-5}" --gtest_brief=1
done

if [ "${ZO_STRESS_TSAN:-1}" != 0 ]; then
  step "ThreadSanitizer: the service and the many-clients and crash tests"
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZO_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
  ninja -C build-tsan -j "$jobs" reliability_ManyClientsTest reliability_CrashConsistencyTest
  # A race stops the service at once: its clients lose their answers and the test fails.
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  ZO_RELIABILITY_CLIENTS=${ZO_STRESS_CLIENTS:-16} ZO_RELIABILITY_OPERATIONS=$(( ${ZO_STRESS_OPERATIONS:-2000} / 4 )) \
    build-tsan/tests/reliability/reliability_ManyClientsTest
  ZO_RELIABILITY_KILLS=$(( ${ZO_STRESS_KILLS:-2000} / 10 )) build-tsan/tests/reliability/reliability_CrashConsistencyTest
  unset TSAN_OPTIONS
fi

step "fuzzing: ${ZO_STRESS_FUZZ_SECONDS:-600} s per target"
ZO_FUZZ_SECONDS=${ZO_STRESS_FUZZ_SECONDS:-600} bash scripts/fuzz.sh

step "stress passed"

#!/usr/bin/env bash
# Counts the system calls the client makes per small exchange (MapHost) in
# steady state, with strace: bench_exchange --syscall-probe=N runs a warm-up
# and then N exchanges, twice with different N, and the difference divided by
# the difference in N is the cost of one exchange (set-up and warm-up cancel).
# strace follows only the client's own thread (no -f): the peers run in a
# process of their own, so -f would count their calls too.
#   bash scripts/bench-syscalls.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
probe="$build/bench/bench_exchange"
[ -x "$probe" ] || { echo "bench-syscalls: $probe is not built"; exit 1; }
if ! command -v strace >/dev/null; then
  echo "bench-syscalls: strace is not installed (apt-get install strace); nothing counted"
  exit 0
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
small=1000
large=3000
for n in $small $large; do
  strace -c -o "$tmp/$n.txt" "$probe" --syscall-probe=$n
done

# strace -c: "% time seconds usecs/call calls [errors] syscall"; rows end
# with the name, the calls are the fourth column.
calls() { awk '$NF ~ /^[a-z_0-9]+$/ && $4 ~ /^[0-9]+$/ && $NF != "total" {print $NF, $4}' "$1"; }
calls "$tmp/$small.txt" | sort > "$tmp/small"
calls "$tmp/$large.txt" | sort > "$tmp/large"
echo "system calls of the client per MapHost exchange (steady state):"
join -a 2 -e 0 -o 0,1.2,2.2 "$tmp/small" "$tmp/large" |
  awk -v d=$((large - small)) '{ per = ($3 - $2) / d; if (per >= 0.005) { printf "  %-12s %.2f\n", $1, per; total += per } }
       END { printf "  %-12s %.2f\n", "total", total }'

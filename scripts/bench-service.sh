#!/usr/bin/env bash
# The service's durable mutations, in one run (docs/PERFORMANCE.md):
#   1. one client mapping and unmapping a host through the library against a
#      private zoscsisrv (each call one committed, synced change), beside a
#      tgtadm loop doing the same to a private tgtd on loopback (bind and
#      unbind an initiator, one tgtadm process per operation); the ratio of
#      operations per second (budget: ours at least 6x);
#   2. 1, 4 and 8 clients at once: do concurrent commits share a sync?
#   3. mutation latency with 10,000 LUNs in the inventory against 10 LUNs
#      (budget: within 1.2x).
# The tgt side needs root, tgtd and tgtadm; without them it is skipped with a
# message. The time of one fsync on the state folder's disk is printed too:
# it bounds what one client can commit.
#   bash scripts/bench-service.sh [BUILD_DIR] [OPS]   (defaults: build, 400)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
ops=${2:-400}
ops_tool="$build/bench/bench_service_ops"
[ -x "$ops_tool" ] || { echo "bench-service: $ops_tool is not built"; exit 1; }

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "== the disk"
python3 - "${TMPDIR:-/tmp}" <<'PY'
import os, sys, time
path = os.path.join(sys.argv[1], "zo-bench-fsync.%d" % os.getpid())
fd = os.open(path, os.O_WRONLY | os.O_CREAT, 0o600)
start = time.time()
for i in range(50):
    os.pwrite(fd, b"x" * 4096, i * 4096)
    os.fsync(fd)
print("one fsync of 4 KiB: %.2f ms" % ((time.time() - start) / 50 * 1000))
os.close(fd)
os.unlink(path)
PY

echo "== 1. one client: the library against a tgtadm loop"
ours=$("$ops_tool" --clients 1 --ops "$ops" --luns 10)
echo "ours:   $ours"
ours_rate=$(echo "$ours" | field ops_per_s)

tgt_rate=""
if [ "$(id -u)" -ne 0 ] || ! command -v tgtd >/dev/null || ! command -v tgtadm >/dev/null; then
  echo "tgtadm: skipped (needs root, tgtd and tgtadm; this is uid $(id -u))"
else
  # A private tgtd: a control port no other tgtd uses, a free loopback portal.
  control=""
  for _ in $(seq 1 50); do
    candidate=$((10000 + RANDOM % 20000))  # tgtd takes control ports below 32768
    [ -e "/var/run/tgtd/socket.$candidate" ] || { control=$candidate; break; }
  done
  portal=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  log=$(mktemp)
  tgtd -f -C "$control" --iscsi "portal=127.0.0.1:$portal" >"$log" 2>&1 &
  tgtd_pid=$!
  stop_tgtd() {
    if kill -0 "$tgtd_pid" 2>/dev/null; then
      tgtadm -C "$control" --lld iscsi --op delete --mode target --tid 1 >/dev/null 2>&1 || true
      tgtadm -C "$control" --op delete --mode system >/dev/null 2>&1 || true
      for _ in $(seq 1 50); do kill -0 "$tgtd_pid" 2>/dev/null || break; sleep 0.1; done
      kill "$tgtd_pid" 2>/dev/null || true
    fi
    wait "$tgtd_pid" 2>/dev/null || true
    rm -f "$log"
  }
  trap stop_tgtd EXIT
  up=0
  for _ in $(seq 1 100); do
    if tgtadm -C "$control" --op show --mode system >/dev/null 2>&1; then up=1; break; fi
    sleep 0.05
  done
  if [ "$up" -ne 1 ]; then
    echo "tgtadm: skipped (the private tgtd did not come up:"; cat "$log"; echo ")"
  else
    adm() { tgtadm -C "$control" --lld iscsi "$@"; }
    adm --op new --mode target --tid 1 -T iqn.2024-01.test.bench:tgtadm
    host=iqn.1994-05.com.example:bench-host
    pairs=$((ops / 2))
    start=$(date +%s.%N)
    for _ in $(seq 1 "$pairs"); do
      adm --op bind --mode target --tid 1 --initiator-name "$host"
      adm --op unbind --mode target --tid 1 --initiator-name "$host"
    done
    end=$(date +%s.%N)
    tgt_rate=$(awk -v n=$((pairs * 2)) -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", n / (e - s) }')
    echo "tgtadm: ops=$((pairs * 2)) ops_per_s=$tgt_rate (control port $control, portal 127.0.0.1:$portal)"
  fi
  stop_tgtd
  trap - EXIT
fi
if [ -n "$tgt_rate" ]; then
  echo "ratio (ours / tgtadm, operations per second): $(ratio "$ours_rate" "$tgt_rate")   (budget: at least 6)"
fi

echo "== 2. several clients at once (does a sync serve more than one commit?)"
one=""
for clients in 1 4 8; do
  line=$("$ops_tool" --clients "$clients" --ops $((ops / 2)) --luns 10)
  rate=$(echo "$line" | field ops_per_s)
  [ -n "$one" ] || one=$rate
  echo "clients=$clients ops_per_s=$rate median_us=$(echo "$line" | field median_us) (x$(ratio "$rate" "$one") of one client)"
done

echo "== 3. mutation latency: 10,000 LUNs against 10 LUNs"
# One client, two instances in turn (blocks of 20): drift of the disk moves both.
line=$("$ops_tool" --ops "$ops" --luns 10 --versus 10000)
echo "$line"
echo "ratio (10,000 / 10, median latency): $(echo "$line" | field ratio)   (budget: at most 1.2)"

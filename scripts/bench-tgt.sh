#!/usr/bin/env bash
# The tgt backend at scale, ours beside the best export made by hand, in one
# run (docs/PERFORMANCE.md, "5. The tgt backend"):
#   - ours: a private zoscsisrv (Backend=tgt, its own tgtd on a control port
#     and portal of its own) whose inventory is seeded with N LUNs in one
#     target, all mapped to one host, exported by the service's start;
#   - by hand: a second private tgtd with the same N files exported with
#     tgtadm, once per candidate a skilled operator would try (tgtd's default
#     of 16 I/O threads per LUN, 1 thread, aio), each candidate that the
#     machine's limits allow;
#   - reads of LUN 1 (libiscsi's iscsi-perf, 4 KiB and 64 KiB, 32 in flight)
#     and writes with a flush after every 32 (bench_iscsi_write), ours and a
#     candidate in turn, REPS times; the ratio is ours over the best
#     candidate, median and spread of the pairs.
# And the control plane (bench_tgt_control), each beside the same exports
# made by hand with tgtadm on a private tgtd:
#   - create + map a LUN to a known and to a new host, less the CLI's start
#     (the library against the service; by hand: the file, then tgtadm);
#   - tgtadm calls per change, and for a restore;
#   - recovery after kill -9 of the service and its tgtd at RESTORE LUNs:
#     until the restarted service has every export back, its first change
#     sent at once, against tgtd restarted by hand and the same exports made
#     one tgtadm after another, with and without the LUNs' identity, and 8 at
#     once (split by target); medians of ROUNDS; and at the largest, the service's restore with
#     1, 2, 4 and 8 tgtadm at once;
#   - seeding (create + map) through the service with 10 and 1,000 LUNs
#     exported.
# Needs root, tgtd, tgtadm, iscsi-perf and the built zoscsisrv,
# bench_tgt_seed, bench_iscsi_write and bench_tgt_control. Every process it
# starts is stopped and every file it makes removed on every way out.
#
#   bash scripts/bench-tgt.sh [BUILD_DIR] [--luns "1 100 1000 4000"] [--reps 3]
#        [--seconds 2] [--hand "rdwr:16 rdwr:1 aio"] [--writes "1 1000"]
#        [--restore "100 300 1000"] [--rounds 3] [--smoke]
# --smoke: one LUN, one short pass of each measure (proves the script works).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
luns_list="1 100 1000 4000"
writes_list="1 1000"
reps=3
seconds=2
candidates="rdwr:16 rdwr:1 aio"
restore_list="100 300 1000"
rounds=3
control_ops=40
seed_sizes="10 1000"
while [ $# -gt 0 ]; do
  case $1 in
    --restore) restore_list=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --luns) luns_list=$2; shift 2 ;;
    --writes) writes_list=$2; shift 2 ;;
    --reps) reps=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --hand) candidates=$2; shift 2 ;;
    --smoke) luns_list=1; writes_list=1; reps=1; seconds=1; restore_list=60; rounds=1; control_ops=3; seed_sizes="10 60"; shift ;;
    -*) echo "bench-tgt: unknown option $1"; exit 64 ;;
    *) build=$1; shift ;;
  esac
done

service="$build/service/zoscsisrv"
seed="$build/bench/bench_tgt_seed"
writer="$build/bench/bench_iscsi_write"
control="$build/bench/bench_tgt_control"
missing=""
[ "$(id -u)" -eq 0 ] || missing="$missing root"
for tool in tgtd tgtadm iscsi-perf; do command -v $tool >/dev/null || missing="$missing $tool"; done
for program in "$service" "$seed" "$writer" "$control"; do [ -x "$program" ] || missing="$missing $program"; done
if [ -n "$missing" ]; then
  echo "bench-tgt: skipped (needs:$missing)"
  exit 0
fi

work=$(mktemp -d /tmp/zo-bench-tgt.XXXXXX)
chmod 700 "$work"
host=iqn.1994-05.com.example:client0   # the host bench_tgt_seed maps every LUN to
size_mib=64
service_pid=""
hand_pid=""

# --- ports and processes ------------------------------------------------

control_port() {  # a control port no tgtd uses (tgtd takes 0..32767)
  local candidate
  for _ in $(seq 1 100); do
    candidate=$((10000 + RANDOM % 20000))
    [ -e "/var/run/tgtd/socket.$candidate" ] || { echo "$candidate"; return; }
  done
  echo "bench-tgt: no free control port" >&2; exit 1
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

ours_cp=$(control_port); hand_cp=$(control_port)
while [ "$hand_cp" = "$ours_cp" ]; do hand_cp=$(control_port); done
ours_portal=$(free_port); hand_portal=$(free_port)

adm() { local port=$1; shift; tgtadm -C "$port" --lld iscsi "$@"; }

# The pid of the tgtd serving control port $1 (the one our service started).
tgtd_on() {
  local pid
  for pid in $(pgrep -x tgtd || true); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "--control-port=$1 " && { echo "$pid"; return 0; }
  done
  return 0
}

# Empties and stops the tgtd on control port $1 (pid $2): every target goes
# with its LUNs in one forced delete, then tgtd is asked to exit, then killed.
# The socket files tgtd leaves go once nothing serves the port (also when the
# service stopped its tgtd itself).
stop_tgtd() {
  local port=$1 pid=$2 tid
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    for tid in $(adm "$port" --op show --mode target 2>/dev/null | sed -n 's/^Target \([0-9]*\): .*/\1/p'); do
      adm "$port" --op delete --force --mode target --tid "$tid" >/dev/null 2>&1 || true
    done
    tgtadm -C "$port" --op delete --mode system >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  [ -n "$(tgtd_on "$port")" ] || rm -f "/var/run/tgtd/socket.$port" "/var/run/tgtd/socket.$port.lock"
}

stop_ours() {
  local tgtd_pid
  tgtd_pid=$(tgtd_on "$ours_cp")
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=""
  fi
  stop_tgtd "$ours_cp" "${tgtd_pid:-$(tgtd_on "$ours_cp")}"
}
stop_hand() { stop_tgtd "$hand_cp" "$hand_pid"; hand_pid=""; }

cleanup() {
  trap - EXIT INT TERM HUP
  stop_hand
  stop_ours
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

wait_answers() {  # control port, pid: true once tgtd answers
  for _ in $(seq 1 200); do
    kill -0 "$2" 2>/dev/null || return 1
    tgtadm -C "$1" --op show --mode system >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# --- ours: a seeded service exports N LUNs at its start ------------------

ours_target=""; ours_file=""; ours_start_s=""; ours_ceiling=""

ours_up() {  # N
  local n=$1 folder="$work/ours-$1" line start
  mkdir -m 700 "$folder"
  line=$("$seed" "$folder/state" bench "$n" "$size_mib")
  ours_file=$(echo "$line" | sed -n 's/.* lun1=\(.*\)/\1/p')
  dd if=/dev/urandom of="$ours_file" bs=1M count="$size_mib" conv=notrunc status=none
  cat >"$folder/zo.conf" <<EOF
[ZoScsiSrv]
Backend=tgt
TgtIqnPrefix=iqn.2026-12.bench.zo
TgtPortal=127.0.0.1:$ours_portal
TgtControlPort=$ours_cp
TgtStartDaemon=true
TgtCallTimeoutMs=60000
TgtClaimDir=$folder/claims
EOF
  start=$(now)
  ZO_LOG_LEVEL=1 "$service" --foreground --listen "unix:$folder/service.sock" --client bench --state-dir "$folder/state" \
    --backend tgt --idle-exit 0 --config "$folder/zo.conf" >"$folder/service.log" 2>&1 &
  service_pid=$!
  until [ -S "$folder/service.sock" ]; do
    if ! kill -0 "$service_pid" 2>/dev/null; then
      echo "bench-tgt: the service ended at its start:"; tail -5 "$folder/service.log"; exit 1
    fi
    sleep 0.1
  done
  # The service answers before a long restore ends; the restore logs its end.
  local exported
  exported=$(adm "$ours_cp" --op show --mode target | grep -c "Backing store path: /" || true)
  if [ "$exported" -ne "$n" ]; then
    for _ in $(seq 1 6000); do
      grep -q "exports restored\|exports not all restored" "$folder/service.log" && break
      kill -0 "$service_pid" 2>/dev/null || break
      sleep 0.1
    done
    exported=$(adm "$ours_cp" --op show --mode target | grep -c "Backing store path: /" || true)
  fi
  ours_start_s=$(elapsed "$start")
  ours_target=$(adm "$ours_cp" --op show --mode target | sed -n 's/^Target [0-9]*: \(.*\)/\1/p' | head -1)
  if [ "$exported" -ne "$n" ]; then
    echo "bench-tgt: ours exports $exported LUNs of $n; the service says:"
    grep -i -E "refus|fail|ceiling|restored" "$folder/service.log" | tail -3
    exit 1
  fi
  ours_ceiling=$(sed -n 's/.*tgtd can export at most \([0-9]*\) LUNs on this machine \(.*\)/\1 \2/p' \
    "$folder/service.log" | head -1)
}

# --- by hand: tgtadm on a tgtd of our own -------------------------------

hand_target=iqn.2026-12.bench.hand:t1
hand_why=""; hand_create_s=""

# Starts a candidate ("rdwr:THREADS" or "aio") with the N files of ours, or
# sets hand_why when the machine's limits would not let it run.
hand_up() {  # candidate N
  local store=${1%%:*} threads=${1#*:} n=$2 id file start
  [ "$store" = "$1" ] && threads=1
  local pid_max aio_max aio_nr
  pid_max=$(cat /proc/sys/kernel/pid_max); aio_max=$(cat /proc/sys/fs/aio-max-nr); aio_nr=$(cat /proc/sys/fs/aio-nr)
  hand_why=""
  if [ "$store" = rdwr ] && [ $((n * threads)) -gt $((pid_max / 4)) ]; then
    hand_why="needs $((n * threads)) threads, over a quarter of kernel.pid_max $pid_max (others build here)"
  elif [ "$store" = aio ] && [ $((n * 128 + aio_nr)) -gt "$aio_max" ]; then
    hand_why="needs $((n * 128)) aio slots, fs.aio-max-nr $aio_max has $((aio_max - aio_nr)) free"
  fi
  [ -z "$hand_why" ] || return 0
  tgtd -f -C "$hand_cp" -t "$threads" --iscsi "portal=127.0.0.1:$hand_portal" >"$work/hand-tgtd.log" 2>&1 &
  hand_pid=$!
  wait_answers "$hand_cp" "$hand_pid" || { echo "bench-tgt: tgtd by hand did not start:"; cat "$work/hand-tgtd.log"; exit 1; }
  start=$(now)
  adm "$hand_cp" --op new --mode target --tid 1 -T "$hand_target"
  for id in $(seq 1 "$n"); do
    file="${ours_file%/1.img}/$id.img"
    adm "$hand_cp" --op new --mode logicalunit --tid 1 --lun "$id" -b "$file" --bstype "$store"
  done
  adm "$hand_cp" --op bind --mode target --tid 1 --initiator-name "$host"
  hand_create_s=$(elapsed "$start")
}

# --- measures ------------------------------------------------------------

# One measure of a LUN: r4k, r64k (iscsi-perf) or w4k (writes, flush every 32).
measure() {  # kind url
  local out tool
  case $1 in
    r4k) tool=(iscsi-perf -b 8) ;;
    r64k) tool=(iscsi-perf -b 128) ;;
    w4k) tool=("$writer" -b 8 -m 32 -f 32) ;;
  esac
  out=$(timeout $((seconds + 30)) "${tool[@]}" -i "$host" -t "$seconds" "$2" 2>&1 || true)
  echo "$out" | tr '\r' '\n' | grep -a -o 'iops average [0-9]*' | tail -1 | awk '{ print $3 }'
}

median() {  # the median of the numbers given
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print 0; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
spread() {  # FORMAT numbers...: the least and the greatest
  local f=$1; shift
  printf '%s\n' "$@" | sort -g | awk -v f="$f" 'NR == 1 { lo = $1 } { hi = $1 } END { printf f "-" f, lo, hi }'
}
num() { awk -v v="$1" 'BEGIN { s = sprintf("%.0f", v); out = ""; while (length(s) > 3) { out = "," substr(s, length(s) - 2) out; s = substr(s, 1, length(s) - 3) } print s out }'; }

# Results: RES[kind,N] = "ours_samples|best_candidate|best_samples|ratio_samples"
declare -A RES

# For N LUNs: every candidate by hand beside ours, REPS pairs per measure.
compare() {  # N kinds...
  local n=$1; shift
  local kinds=("$@") cand kind rep o h ours_url hand_url ran=0
  ours_url="iscsi://127.0.0.1:$ours_portal/$ours_target/1"
  hand_url="iscsi://127.0.0.1:$hand_portal/$hand_target/1"
  declare -A ours_s hand_s pair_s best_c best_m
  for cand in $candidates; do
    hand_up "$cand" "$n"
    if [ -n "$hand_why" ]; then
      echo "  by hand $cand at $n LUNs: skipped, $hand_why"
      continue
    fi
    ran=1
    echo "  by hand $cand: $n LUNs made in ${hand_create_s}s; ours started and exported them in ${ours_start_s}s"
    for kind in "${kinds[@]}"; do
      local os="" hs="" ps=""
      for rep in $(seq 1 "$reps"); do
        o=$(measure "$kind" "$ours_url"); h=$(measure "$kind" "$hand_url")
        os="$os ${o:-0}"; hs="$hs ${h:-0}"
        ps="$ps $(awk -v a="${o:-0}" -v b="${h:-0}" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')"
      done
      echo "    $kind: ours$os | $cand$hs"
      ours_s[$kind]="${ours_s[$kind]:-}$os"
      local hm
      hm=$(median $hs)
      if [ -z "${best_m[$kind]:-}" ] || awk -v a="$hm" -v b="${best_m[$kind]}" 'BEGIN { exit !(a > b) }'; then
        best_m[$kind]=$hm; best_c[$kind]=$cand; hand_s[$kind]=$hs; pair_s[$kind]=$ps
      fi
    done
    stop_hand
  done
  if [ "$ran" -eq 0 ]; then  # no candidate could run here: ours alone
    for kind in "${kinds[@]}"; do
      for rep in $(seq 1 "$reps"); do ours_s[$kind]="${ours_s[$kind]:-} $(measure "$kind" "$ours_url")"; done
      echo "    $kind: ours${ours_s[$kind]}"
    done
  fi
  for kind in "${kinds[@]}"; do
    RES[$kind,$n]="${ours_s[$kind]:-}|${best_c[$kind]:-none}|${hand_s[$kind]:-}|${pair_s[$kind]:-}"
  done
}

label() {
  case $1 in
    rdwr:1) echo "rdwr, 1 thread" ;;
    rdwr:*) echo "rdwr, ${1#rdwr:} threads" ;;
    *) echo "$1" ;;
  esac
}

row() {  # title kind N
  local entry=${RES[$2,$3]:-} ours best hand pairs
  [ -n "$entry" ] || return 0
  IFS='|' read -r ours best hand pairs <<<"$entry"
  local om hm pm
  om=$(median $ours)
  if [ "$best" = none ] || [ -z "$hand" ]; then
    printf '| %s | %s | %s (%s) | – | – |\n' "$1" "$3" "$(num "$om")" "$(spread %d $ours)"
    return
  fi
  hm=$(median $hand)
  pm=$(median $pairs)
  printf '| %s | %s | %s (%s) | %s (%s; %s) | %.2f (%s) |\n' "$1" "$3" "$(num "$om")" "$(spread %d $ours)" \
    "$(num "$hm")" "$(label "$best")" "$(spread %d $hand)" "$pm" "$(spread %.2f $pairs)"
}

# --- the control plane (bench_tgt_control) --------------------------------

# The values of keys $2... in the key=value line $1, one line each (empty
# when the key is missing).
values() {
  local line=$1 key; shift
  for key; do printf '%s\n' "$(sed -n "s/\(^\|.* \)$key=\([^ ]*\).*/\2/p" <<<"$line")"; done
}
ops_line=""; calls_line=""; restore_lines=(); workers_line=""; seed_line=""

# bench_tgt_control with $@: its lines in $out, shown indented; its failure ends the run.
run_control() {
  out=$(TMPDIR="$work" "$control" "$@") || { echo "$out"; exit 1; }
  echo "$out" | sed 's/^/  /'
}

control_plane() {
  local out n
  echo "== the control plane: create + map, tgtadm calls, recovery at $restore_list LUNs, seeding at $seed_sizes"
  run_control --mode ops --ops "$control_ops"
  ops_line=$(echo "$out" | grep '^row=create_map_')
  calls_line=$(echo "$out" | grep '^row=tgtadm_calls')
  local largest_restore=${restore_list##* }
  for n in $restore_list; do
    local sweep=no
    [ "$n" = "$largest_restore" ] && sweep=yes
    run_control --mode restore --luns "$n" --rounds "$rounds" --sweep "$sweep"
    restore_lines+=("$(echo "$out" | grep '^row=restore ')")
    [ "$sweep" = yes ] && workers_line=$(echo "$out" | grep '^row=restore_workers')
  done
  run_control --mode seed --luns "${seed_sizes%% *}" --versus "${seed_sizes##* }" --ops "$((control_ops * 2 + 20))"
  seed_line=$(echo "$out" | grep '^row=seed')
}

rows_create_map() {
  local line v
  while read -r line; do
    [ -n "$line" ] || continue
    local who="a known host (new logicalunit, identity)"
    case $line in row=create_map_new_host*) who="a new host (new target, new logicalunit, identity, bind)" ;; esac
    mapfile -t v < <(values "$line" ours_ms hand_ms ratio)
    printf '| create + map to %s, less CLI start, ms | – | %s | %s (the file, then tgtadm) | %s |\n' "$who" "${v[@]}"
  done <<<"$ops_line"
  mapfile -t v < <(values "${ops_line%%$'\n'*}" ours_create_ms disk_flush_ms)
  printf '| of which: the service'"'"'s creation alone, and one disk flush, ms | – | %s; %s | – | – |\n' "${v[@]}"
}

rows_tgtadm_calls() {
  local line v
  mapfile -t v < <(values "$calls_line" create_lun map_known_host map_new_host unmap_last_lun delete_lun)
  printf '| tgtadm calls: create LUN, map to a known host, map to a new host, unmap the last LUN, delete LUN | – | %s, %s, %s, %s, %s | 0, 2, 4, 1, 0 (1 for a map without identity) | – |\n' \
    "${v[@]}"
  for line in "${restore_lines[@]}"; do
    mapfile -t v < <(values "$line" luns ours_calls hand_calls hand_without_identity_calls)
    printf '| tgtadm calls for a restore | %s | %s | %s (%s without identity) | – |\n' "${v[@]}"
  done
}

rows_recovery() {
  local line v
  for line in "${restore_lines[@]}"; do
    mapfile -t v < <(values "$line" luns ours_s first_change_s hand_s hand_without_identity_s hand_at_once_s ratio \
      ratio_without_identity ratio_at_once)
    printf '| recovery after kill -9 of service and tgtd, s (first change answered at) | %s | %s (%s) | %s (one after another); %s without identity; %s 8 at once | %s; %s; %s |\n' \
      "${v[@]}"
  done
  [ -n "$workers_line" ] || return 0
  mapfile -t v < <(values "$workers_line" luns w1_s w2_s w4_s w8_s)
  printf '| the same restore with 1, 2, 4, 8 tgtadm at once, s | %s | %s, %s, %s, %s | – | – |\n' "${v[@]}"
}

rows_seeding() {
  local v
  mapfile -t v < <(values "$seed_line" luns versus_luns ops_per_s versus_ops_per_s ratio)
  printf '| seeding through the service (create + map), ops/s | %s → %s | %s → %s | – | %s |\n' "${v[@]}"
}

# --- the run ---------------------------------------------------------------

echo "== bench-tgt: LUNs $luns_list; writes at $writes_list; $reps pairs of ${seconds}s; by hand: $candidates"
echo "   ours: control port $ours_cp, portal 127.0.0.1:$ours_portal; by hand: control port $hand_cp, portal 127.0.0.1:$hand_portal"
echo "   load: $(cut -d' ' -f1-3 /proc/loadavg); pid_max $(cat /proc/sys/kernel/pid_max), aio-max-nr $(cat /proc/sys/fs/aio-max-nr)"
run_start=$(now)
largest=""; largest_s=""
for n in $luns_list; do
  echo "== $n LUNs (at $(elapsed "$run_start")s)"
  ours_up "$n"
  largest=$n; largest_s=$ours_start_s
  kinds=(r4k r64k)
  for w in $writes_list; do [ "$w" = "$n" ] && kinds+=(w4k); done
  compare "$n" "${kinds[@]}"
  stop_ours
done
echo "   (at $(elapsed "$run_start")s)"
control_plane

echo
echo "| measure | N | ours (spread) | best by hand (how; spread) | ratio (spread of pairs) |"
echo "|---|---|---|---|---|"
for n in $luns_list; do row "data read 4k IOPS" r4k "$n"; done
for n in $luns_list; do row "data read 64k IOPS" r64k "$n"; done
for n in $luns_list; do row "data write 4k IOPS, flush every 32" w4k "$n"; done
printf '| LUNs that can be exported | – | %s; %s exported and served, in %ss from the start of the service | – | – |\n' \
  "${ours_ceiling:-ceiling not logged}" "$(num "${largest:-0}")" "${largest_s:-?}"
rows_create_map
rows_tgtadm_calls
rows_recovery
rows_seeding
echo
echo "bench-tgt: done in $(elapsed "$run_start")s"

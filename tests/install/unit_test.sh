#!/usr/bin/env bash
# The systemd unit against the built service, without systemd as PID 1:
#   - systemd-analyze verifies the unit and rates its exposure below 5;
#   - the unit's own ExecStart line (folders moved into a scratch folder)
#     runs in a sandbox made of the unit's settings: a mount namespace with
#     the whole file system read-only but for its writable folders, private
#     /tmp and /dev, hidden homes, no capability and no new privileges;
#   - clients are served there, with each backend (tgt only as root with tgtd
#     installed: the service starts its own tgtd on free ports), and stop it;
#   - every system call and address family the service (and its tgtd) used,
#     as strace saw them, is one the unit's SystemCallFilter= and
#     RestrictAddressFamilies= allow.
# Needs root (mount namespaces); exits 77 (skipped) otherwise.
# Environment: ZO_SOURCE_DIR, ZO_BUILD_DIR, ZO_ZOSCSISRV, ZO_ZOSCSICTL.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

if [ "$(id -u)" -ne 0 ]; then echo "skipped: needs root for its mount namespace"; exit 77; fi
for tool in systemd-analyze unshare setpriv strace; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

# Not under /tmp: the sandbox gets a /tmp of its own.
work=$(mktemp -d "$ZO_BUILD_DIR/unit-test.XXXXXX")
chmod 700 "$work"
# Asks the tgtd the test made to exit and, once it has, removes the socket
# files tgtd leaves behind.
stop_tgtd() {
  [ -n "${control_port:-}" ] || return 0
  /usr/sbin/tgtadm -C "$control_port" --mode system --op delete >/dev/null 2>&1 || true
  local ours="^/usr/sbin/tgtd .*--control-port=$control_port( |\$)"
  for _ in $(seq 50); do pgrep -f "$ours" >/dev/null || break; sleep 0.1; done
  pgrep -f "$ours" >/dev/null || rm -f "/run/tgtd/socket.$control_port" "/run/tgtd/socket.$control_port.lock"
}
cleanup() {
  if [ -n "${service_pid:-}" ]; then kill -9 "$service_pid" 2>/dev/null || true; fi
  stop_tgtd
  if [ -n "${sandbox_pid:-}" ]; then wait "$sandbox_pid" 2>/dev/null || true; fi
  if [ "${ZO_TEST_KEEP:-0}" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The unit as the install writes it, naming the built program.
unit=$work/zoscsisrv.service
sed -e "s|@ZO_SBINDIR@|$(dirname "$ZO_ZOSCSISRV")|g" -e "s|@ZO_PREFIX@|/usr|g" \
  "$ZO_SOURCE_DIR/packaging/systemd/zoscsisrv.service.in" >"$unit"
systemd-analyze verify --man=no "$unit" >"$work/verify" 2>&1 || { cat "$work/verify" >&2; fail "systemd-analyze verify"; }
[ ! -s "$work/verify" ] || { cat "$work/verify" >&2; fail "systemd-analyze verify finds faults in the unit"; }
systemd-analyze security --offline=yes --threshold=49 "$unit" >"$work/security" 2>&1 ||
  { cat "$work/security" >&2; fail "the unit's exposure is 5 or more"; }
note "unit verified; $(grep -o 'Overall exposure level.*' "$work/security")"

setting() { sed -n "s/^$1=//p" "$unit"; }
[ "$(setting ProtectSystem)" = strict ] || fail "the sandbox below assumes ProtectSystem=strict"
[ "$(setting NoNewPrivileges)" = yes ] || fail "the sandbox below assumes NoNewPrivileges=yes"
[ -z "$(setting CapabilityBoundingSet)" ] || fail "the sandbox below assumes an empty CapabilityBoundingSet="

# --- the sandbox -------------------------------------------------------------
# Run inside `unshare -m`: makes every mount read-only, then the unit's
# writable folders writable again, a private /tmp, /var/tmp and /dev, empty
# homes; then runs the rest of its arguments.
cat >"$work/sandbox.sh" <<'EOF'
set -euo pipefail
writable=$1
shift
mount -n --make-rprivate /
# Innermost mounts last, so that a read-only parent does not hide them.
awk '{ print $2 }' /proc/self/mounts | sed 's/\\040/ /g' | sort -u |
  grep -vE '^/(proc|sys|dev)(/|$)' | while read -r point; do
    mount -n -o remount,bind,ro "$point" 2>/dev/null || true
  done
for dir in $writable; do
  [ -d "$dir" ] || continue
  mount -n --bind "$dir" "$dir"
  mount -n -o remount,bind,rw "$dir"
done
for dir in /tmp /var/tmp; do mount -n -t tmpfs -o mode=1777 tmpfs "$dir"; done
for dir in /home /root /run/user; do
  if [ -d "$dir" ]; then mount -n -t tmpfs -o ro,mode=755 tmpfs "$dir"; fi
done
dev=$(mktemp -d)
mount -n -t tmpfs -o mode=755 tmpfs "$dev"
for node in null zero full random urandom tty; do
  touch "$dev/$node"
  mount -n --bind "/dev/$node" "$dev/$node"
done
mount -n --move "$dev" /dev
if touch /etc/.zo-sandbox-probe 2>/dev/null; then
  rm -f /etc/.zo-sandbox-probe
  echo "the sandbox leaves /etc writable" >&2
  exit 1
fi
exec "$@"
EOF

# The unit's ExecStart line with its folders and session moved into $work.
secret=0123456789abcdef0123456789abcdef
mkdir -m 700 "$work/run" "$work/state" "$work/traces"
install -m 600 /dev/null "$work/session"
echo "$secret" >"$work/session"
exec_line=$(setting ExecStart)
exec_line=${exec_line//\/run\/zo\/zoscsisrv/$work/run}
exec_line=${exec_line//\/var\/lib\/zoscsisrv/$work/state}
exec_line=${exec_line//\/etc\/zo\/zoscsisrv.session/$work/session}

# Without its session file the service refuses to start: it never runs
# without a session check.
missing=${exec_line//$work\/session/$work/no-session}
missing=${missing//\$ZOSCSISRV_OPTIONS/}
read -r -a argv <<<"$missing"
status=0
timeout 60 "${argv[@]}" --client sandbox-node >"$work/missing.log" 2>&1 || status=$?
[ "$status" = 78 ] && grep -q "$work/no-session" "$work/missing.log" ||
  { cat "$work/missing.log" >&2; fail "without its session file the service did not refuse to start (status $status)"; }
note "without its session file the service refuses to start: $(tail -n 1 "$work/missing.log")"

# One run: the service in the sandbox under strace, a client session with
# zoscsictl, a clean stop. Arguments: the name, then ZOSCSISRV_OPTIONS.
run_backend() {
  local name=$1
  shift
  local line=${exec_line//\$ZOSCSISRV_OPTIONS/$*}
  local argv=()
  read -r -a argv <<<"$line"
  rm -f "$work/run/socket"
  # The unit's writable folders: StateDirectory and RuntimeDirectory (made
  # as systemd makes them; its own moved into $work), ReadWritePaths; and
  # strace's output.
  local writable="$work/state $work/traces"
  local path
  for path in $(setting RuntimeDirectory); do
    path=/run/$path
    case /run/zo/zoscsisrv/ in "$path"/*) continue ;; esac  # it, or a parent of it
    [ -d "$path" ] || install -d -m 700 "$path"
    writable="$writable $path"
  done
  writable="$writable $work/run"
  for path in $(setting ReadWritePaths); do writable="$writable ${path#-}"; done
  unshare -m -- bash "$work/sandbox.sh" "$writable" \
    setpriv --no-new-privs --bounding-set=-all --inh-caps=-all --ambient-caps=-all -- \
    strace -f -q -o "$work/traces/$name" -- "${argv[@]}" --client sandbox-node \
    >"$work/service.$name.log" 2>&1 &
  sandbox_pid=$!
  for _ in $(seq 600); do [ -S "$work/run/socket" ] && break; sleep 0.1; done
  [ -S "$work/run/socket" ] || { cat "$work/service.$name.log" >&2; fail "$name: the sandboxed service does not listen"; }
  service_pid=
  for pid in $(pgrep -f -- "--client sandbox-node" || true); do
    [ "$(readlink -f "/proc/$pid/exe")" = "$(readlink -f "$ZO_ZOSCSISRV")" ] && service_pid=$pid
  done
  [ -n "$service_pid" ] || fail "$name: cannot find the sandboxed service's pid"

  local ctl=(env ZO_CONFIG=/dev/null ZO_SERVICE_ZoScsiSrv="unix:$work/run/socket"
             ZO_SERVICE_ZoScsiSrv_SESSION="$secret" "$ZO_ZOSCSICTL" --client sandbox-node)
  {
    "${ctl[@]}" start &&
    "${ctl[@]}" target add "sandbox-$name" &&
    "${ctl[@]}" lun create "sandbox-$name" --size 1M &&
    "${ctl[@]}" map "sandbox-$name" 1 iqn.2026-12.com.example:sandbox &&
    "${ctl[@]}" ls --target "sandbox-$name" &&
    "${ctl[@]}" reload &&
    "${ctl[@]}" unmap "sandbox-$name" 1 iqn.2026-12.com.example:sandbox &&
    "${ctl[@]}" lun rm "sandbox-$name" 1 &&
    "${ctl[@]}" target rm "sandbox-$name"
  } >"$work/session.$name.out" 2>&1 ||
    { cat "$work/session.$name.out" "$work/service.$name.log" >&2; fail "$name: a client session in the sandbox failed"; }

  local pid=$service_pid
  kill -TERM "$service_pid"
  for _ in $(seq 300); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
  ! kill -0 "$service_pid" 2>/dev/null || fail "$name: the service did not stop on SIGTERM"
  service_pid=
  stop_tgtd
  wait "$sandbox_pid" || true
  sandbox_pid=
  grep -qE "^$pid +\+\+\+ exited with 0 \+\+\+\$" "$work/traces/$name" ||
    { cat "$work/service.$name.log" >&2; fail "$name: the service did not exit with 0 after SIGTERM"; }
  note "$name: served a client session in the unit's sandbox"
}

run_backend inventory --backend inventory
if [ -x /usr/sbin/tgtd ] && [ -x /usr/sbin/tgtadm ]; then
  # A control port no tgtd uses (its socket would exist): the test stops the
  # tgtd it made, never another one.
  for attempt in $(seq 50); do
    control_port=$((20000 + ($$ * 7 + attempt * 7919) % 12000))
    [ -e "/run/tgtd/socket.$control_port" ] || break
  done
  portal_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf '[ZoScsiSrv]\nTgtControlPort = %s\nTgtPortal = 127.0.0.1:%s\nTgtStartDaemon = true\n' \
    "$control_port" "$portal_port" >"$work/tgt.conf"
  run_backend tgt --backend tgt --config "$work/tgt.conf"
  grep -q 'execve("/usr/sbin/tgtd"' "$work/traces/tgt" || fail "tgt: the service did not start its tgtd in the sandbox"
  control_port=
else
  note "tgt: tgtd is not installed, backend skipped"
fi

# --- what the service used, against what the unit allows -------------------
# systemd-analyze lists a group's members: system calls and nested groups.
expand() {
  local item
  for item in "$@"; do
    case $item in
      @*) expand $(systemd-analyze syscall-filter "$item" | sed -n '2,$p' | sed 's/#.*//' | tr -s ' ' '\n' | grep -v '^$') ;;
      *) echo "$item" ;;
    esac
  done
}
# The lines apply in order: one without "~" adds to the allowed set, one
# with "~" takes away.
: >"$work/permitted"
while read -r filter; do
  if [ "${filter#\~}" != "$filter" ]; then
    expand ${filter#\~} | sort -u >"$work/change"
    comm -23 "$work/permitted" "$work/change" >"$work/next"
  else
    expand $filter | sort -u | sort -mu - "$work/permitted" >"$work/next"
  fi
  mv "$work/next" "$work/permitted"
done < <(setting SystemCallFilter)
cat "$work"/traces/* | sed -nE 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/p' | sort -u >"$work/used"
[ -s "$work/used" ] || fail "strace recorded no system call"
if comm -23 "$work/used" "$work/permitted" | grep . >"$work/forbidden"; then
  cat "$work/forbidden" >&2
  fail "the service made system calls the unit's SystemCallFilter= forbids"
fi
note "all $(wc -l <"$work/used") system calls used are allowed by SystemCallFilter="

families=$(setting RestrictAddressFamilies | tr ' ' '\n' | sort -u)
# Sockets opened: tgtd probes for RDMA over netlink and goes on without it,
# as it will when the unit refuses the family.
cat "$work"/traces/* | sed -nE 's/.* socket\((AF_[A-Z0-9]+),.*\) += [0-9]+$/\1/p' | sort -u >"$work/families"
if comm -23 "$work/families" <(echo "$families") | grep . >"$work/forbidden"; then
  cat "$work/forbidden" >&2
  fail "the service opened sockets of families RestrictAddressFamilies= forbids"
fi
note "address families used: $(tr '\n' ' ' <"$work/families")"
echo "unit test passed"

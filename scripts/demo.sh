#!/usr/bin/env bash
# A short zoscsictl session on the embedded default: the records-only
# "inventory" backend, in private temporary folders, no root needed.
#   bash scripts/demo.sh [BUILD_DIR]      (default: ./build)
# The service is launched on demand by the first command and stopped at the
# end; the folders are removed.
set -euo pipefail

build=${1:-build}
ctl="$build/tools/zoscsictl"
srv="$build/service/zoscsisrv"
for program in "$ctl" "$srv"; do
  [ -x "$program" ] || { echo "demo: $program is not built (ninja -C $build zoscsictl zoscsisrv)" >&2; exit 1; }
done
ctl=$(cd "$(dirname "$ctl")" && pwd)/zoscsictl
srv=$(cd "$(dirname "$srv")" && pwd)/zoscsisrv

work=$(mktemp -d "${TMPDIR:-/tmp}/zoscsictl-demo.XXXXXX")
export ZO_RUNTIME_DIR="$work/run" ZO_STATE_DIR="$work/state" ZO_CONFIG="$work/zo.conf"
mkdir -m 700 "$ZO_RUNTIME_DIR" "$ZO_STATE_DIR"
cat >"$ZO_CONFIG" <<INI
[OnDemandServices]
ZoScsiSrv = $srv
ZoScsiSrv.idle_exit = 60

[ZoScsiSrv]
Backend = inventory
INI

client=demo-node
stop_service() {
  local pidfile="$ZO_RUNTIME_DIR/ZoScsiSrv/$client/pid" pid
  if [ -r "$pidfile" ] && read -r pid _ <"$pidfile" && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$work"
}
trap stop_service EXIT

# Prints the command as a user would type it, then runs it.
run() {
  printf '\n$ zoscsictl'
  printf ' %q' "$@"
  printf '\n'
  "$ctl" --client "$client" "$@"
}
# A command that is meant to be refused: shows the message and exit code.
refused() {
  local rc=0
  run "$@" || rc=$?
  echo "(exit code $rc)"
  [ "$rc" -ne 0 ]
}

tgt=tgt01
host1=iqn.2026-12.com.example:host01
host2=iqn.2026-12.com.example:host02

echo "zoscsictl demo: runtime, state and configuration in $work"
run start
run status --validate
run target add "$tgt"
run targets
run lun create "$tgt" --size 64M
run lun create "$tgt" --size 1G
run lun create "$tgt" --size 10G
run map "$tgt" 1 "$host1"
run map "$tgt" 2 "$host1"
run map "$tgt" 3 "$host2"
run ls
run remap "$tgt" 2 "$host1" "$host2"
run ls --host "$host2"
run ls --target "$tgt" --host "$host1"
refused map "$tgt" 1 "$host1"
refused lun rm "$tgt" 1
run lun close "$tgt" 3
run ls -l
run targets
run lun open "$tgt" 3
run --json ls --target "$tgt"
run unmap "$tgt" 1 "$host1"
run unmap "$tgt" 2 "$host2"
run unmap "$tgt" 3 "$host2"
run lun rm "$tgt" 1
run lun rm "$tgt" 2
run lun rm "$tgt" 3
run target rm "$tgt"
run ls
run targets
echo
echo "demo: done; stopping the service"

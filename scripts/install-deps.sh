#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Idempotent: only what is missing is installed. Needs root (or sudo).
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  libboost-dev libpugixml-dev libsqlite3-dev sqlite3 libcli11-dev nlohmann-json3-dev libssl-dev openssl
  libsystemd-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  python3 groff-base dpkg-dev file binutils bash-completion
  build-essential debhelper lintian fakeroot systemd strace util-linux
  clang libclang-rt-14-dev
  tgt libiscsi-bin libiscsi-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
run() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
export DEBIAN_FRONTEND=noninteractive
run apt-get update -qq
# tgt's package starts its daemon through the init system; on a machine
# without one that step is harmless, and our tests start their own tgtd.
run apt-get install -y -qq --no-install-recommends "${missing[@]}"

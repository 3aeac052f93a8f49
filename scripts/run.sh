#!/usr/bin/env bash
# The main job from a fresh machine: installs what is missing, builds the
# library, the service and the CLI, and runs a short session with zoscsictl
# against an on-demand service on the embedded default (the records-only
# "inventory" backend, private temporary folders, no root needed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZO_BUILD_TESTS=OFF -DZO_BUILD_BENCH=OFF >/dev/null
ninja -C build-run zoscsictl zoscsisrv
exec bash scripts/demo.sh build-run

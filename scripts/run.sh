#!/usr/bin/env bash
# Installs the dependencies, builds the server and runs it with the given
# arguments (none: the defaults).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi

root=${BUILD_ROOT:-build}
cmake -S . -B "$root/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/release" -j "$(nproc)" --target vorav-server
exec "$root/release/src/vorav-server" "$@"

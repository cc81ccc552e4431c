#!/usr/bin/env bash
# Installs the dependencies, builds the server, the device simulator and the
# position report, and runs the server on the default site with simulated
# devices: the server's log as it runs, then per tag the number of positions
# it published on the External stream and their error against the simulator's
# truth.
#
#   bash scripts/run.sh            # 40 s
#   bash scripts/run.sh 120        # or RUN_SECONDS=120
#
# The logs and the truth (CSV) go to build/run/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${RUN_SECONDS:-40}}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: bash scripts/run.sh [seconds]" >&2
  exit 2
fi

if [ "${SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi

root=${BUILD_ROOT:-build}
cmake -S . -B "$root/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/release" -j "$(nproc)" --target vorav-server vorav-device-sim vorav-position-report

bin=$root/release
out=$root/run
mkdir -p "$out"
master_port=/tmp/vorav-sim-master
simulator_pid=
report_pid=
cleanup() {
  [ -n "$report_pid" ] && kill "$report_pid" 2>/dev/null || true
  [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

echo "== device simulator: default site (tools/simulator/default_site.json), log in $out/simulator.log"
"$bin/tools/vorav-device-sim" --site tools/simulator/default_site.json --truth-csv "$out/truth.csv" \
  >"$out/simulator.log" 2>&1 &
simulator_pid=$!
for _ in $(seq 100); do
  [ -e "$master_port" ] && break
  sleep 0.1
done
if [ ! -e "$master_port" ]; then
  echo "the simulator did not come up:" >&2
  cat "$out/simulator.log" >&2
  exit 1
fi

"$bin/tools/vorav-position-report" --config default.cfg >"$out/positions.log" 2>&1 &
report_pid=$!

echo "== vorav-server --host-only -c default.cfg --time $seconds"
status=0
"$bin/src/vorav-server" --host-only -c default.cfg --time "$seconds" 2>&1 | tee "$out/server.log" || status=$?

kill -INT "$report_pid"
wait "$report_pid" || true
report_pid=
echo
echo "== positions on the External stream against the simulator's truth"
cat "$out/positions.log"
exit "$status"

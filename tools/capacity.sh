#!/usr/bin/env bash
# Capacity measurement: the real vorav-server against the capacity site (a
# master, 16 wired anchors, half on pseudo-terminals and half on Ethernet in
# unicast mode, and 250 moving tags at 10 Hz), simulated by vorav-capacity,
# which also measures and reports (see tools/capacity/main.cpp).
#
#   tools/capacity.sh [--build DIR] [--duration S] [--out DIR] [--ci] [-- site options]
#
# --build DIR   build tree with vorav-server and tools/vorav-capacity (build/release)
# --duration S  seconds measured once every tag has its position (60)
# --out DIR     where the site, the server's log and the report go (a new temporary folder)
# --ci          the short check: measures once any position flows, and fails only when
#               none does or the server crashes or does not stop cleanly; no timing figure
#               is judged
# Site options (after --) go to `vorav-capacity site`, e.g. -- --tags 100.
#
# The run takes a network namespace of its own when it can (unshare, as root):
# the server's device configuration stream is a fixed group and port, which
# other servers on the machine must not hear. Without one it uses the
# loopback interface as it is. UDP ports: 45600 and 45601.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build="$here/../build/release"
duration=60
out=""
ci=0
site_args=()
inside=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --duration) duration=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --ci) ci=1; shift ;;
    --inside-namespace) inside=1; shift ;;
    --) shift; site_args=("$@"); break ;;
    *) echo "capacity.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd) || { echo "capacity.sh: no build tree $build" >&2; exit 2; }
server="$build/vorav-server"
[ -x "$server" ] || server="$build/src/vorav-server"
capacity="$build/tools/vorav-capacity"
for binary in "$server" "$capacity"; do
  [ -x "$binary" ] || { echo "capacity.sh: $binary is not built" >&2; exit 2; }
done
[ -n "$out" ] || out=$(mktemp -d /tmp/vorav-capacity.XXXXXX)
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ "$inside" = 0 ] && command -v unshare > /dev/null && unshare -n true 2> /dev/null; then
  args=(--build "$build" --duration "$duration" --out "$out" --inside-namespace)
  [ "$ci" = 1 ] && args+=(--ci)
  exec unshare -n bash "$0" "${args[@]}" -- "${site_args[@]}"
fi
if [ "$inside" = 1 ]; then
  # A fresh namespace: loopback up, multicast routed onto it.
  ip link set lo up && ip route add 224.0.0.0/4 dev lo || { echo "capacity.sh: cannot set up lo" >&2; exit 2; }
  echo "capacity.sh: in a network namespace of its own"
fi

"$capacity" site --dir "$out/site" "${site_args[@]}" || exit 1

warmup=(--warmup all --warmup-timeout 180)
[ "$ci" = 1 ] && warmup=(--warmup first --warmup-timeout 150)

"$server" --host-only --config "$out/site/server.cfg" > "$out/server.log" 2>&1 &
server_pid=$!
"$capacity" run --site "$out/site/site.json" --server-pid "$server_pid" --duration "$duration" "${warmup[@]}" \
  | tee "$out/report.txt"
measured=${PIPESTATUS[0]}
# The measuring tool stops the server; whatever happened, it does not outlive the script.
for _ in $(seq 1 300); do
  kill -0 "$server_pid" 2> /dev/null || break
  sleep 0.1
done
if kill -0 "$server_pid" 2> /dev/null; then
  echo "capacity.sh: the server did not stop; killing it"
  kill -KILL "$server_pid" 2> /dev/null
fi
wait "$server_pid"
server_code=$?

count() { grep -c -- "$1" "$out/server.log" 2> /dev/null; }
{
  echo "  server exit code                             $server_code"
  echo "  server messages: report lock busy $(count 'Unable to lock func process report response')," \
    "user data lock busy $(count 'Could not lock user data')," \
    "stale clock skips $(count 'skipping response from')," \
    "position lock busy $(count 'Could not lock the Pos3 List')"
  echo "  files: $out (server.log, report.txt, site/)"
} | tee -a "$out/report.txt"

if [ "$measured" != 0 ]; then
  echo "capacity.sh: the measurement failed (code $measured)"
  exit 1
fi
if [ "$server_code" != 0 ]; then
  echo "capacity.sh: the server ended with code $server_code"
  exit 1
fi
exit 0

#!/usr/bin/env bash
# Sets up, builds, and runs the demo. By default a small application loads the simulator library
# (libsimapi.so, its sample data beside it) and logs a trader on to the simulated host: no server
# at all. It lists the exchanges, commodities and contracts, subscribes to a contract, prints a
# few of its price updates (bid, offer, last trade, depth) as the simulated market moves, buys a
# lot at the best offer and prints its states, the fill and the position, enters a second buy
# away from the market and cancels it, creates a calendar spread strategy, and logs off.
#
#   scripts/demo.sh              the simulator demo
#   scripts/demo.sh --fake-host  the live library against the fake host on loopback: a trader
#                                logs on, enters an order, follows it until the host has filled
#                                it, reads its history back and logs off
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-sim}
scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"

client=$(mktemp -d)
if [[ $mode != --fake-host ]]; then
  trap 'rm -rf "$client"' EXIT
  build/examples/smoke build/Source/libsimapi.so
  echo "== a trader logs on to the simulated host, watches the market move and trades"
  build/examples/simdemo build/Source/libsimapi.so 8 "$client/"
  exit 0
fi

build/examples/smoke build/Source/libvornapi.so
log=$(mktemp)
build/tests/vornfakehost >"$log" 2>&1 &
host=$!
trap 'kill $host 2>/dev/null; rm -f "$log"; rm -rf "$client"' EXIT
for _ in $(seq 50); do
  grep -q "host on" "$log" && break
  sleep 0.1
done
port=$(sed -n 's/.*host on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$log" | head -n 1)
echo "== a trader logs on and enters an order against the fake host on port $port"
# A fresh client path: no store of an earlier run is read back.
build/examples/trader build/Source/libvornapi.so 127.0.0.1 "$port" trader1 secret1 "$client/"

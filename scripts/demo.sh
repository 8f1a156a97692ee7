#!/usr/bin/env bash
# Sets up, builds, and runs the demo: the fake host serves its default session on loopback and
# a small application logs a trader on through the client library, enters an order, follows
# it until the host has filled it, reads its history back and logs off.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
build/examples/smoke build/Source/libvornapi.so

log=$(mktemp)
build/tests/vornfakehost >"$log" 2>&1 &
host=$!
client=$(mktemp -d)
trap 'kill $host 2>/dev/null; rm -f "$log"; rm -rf "$client"' EXIT
for _ in $(seq 50); do
  grep -q "host on" "$log" && break
  sleep 0.1
done
port=$(sed -n 's/.*host on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$log" | head -n 1)
echo "== a trader logs on and enters an order against the fake host on port $port"
# A fresh client path: no store of an earlier run is read back.
build/examples/trader build/Source/libvornapi.so 127.0.0.1 "$port" trader1 secret1 "$client/"

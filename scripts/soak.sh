#!/usr/bin/env bash
# A soak run (not part of CI): builds vornfakehost and the soak application under
# AddressSanitizer + UndefinedBehaviorSanitizer, starts `vornfakehost --load` (20,000 order
# updates and 50,000 price bodies a second, the host link dropped every minute) and runs
# `vornsoak` against it for N minutes (default 60): a logged-on session of libvornapi.so with
# 100 orders a second entered, amended and cancelled. Prints the application's per-minute
# figures and verdict, the load host's, and whether every event the host sent arrived.
#
#   scripts/soak.sh [--minutes N]
#
# VORN_SOAK_BUILD names the build folder (default build-soak); VORN_SOAK_ORDER_RATE,
# VORN_SOAK_PRICE_RATE and VORN_SOAK_RECONNECT change the load.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=60
if [[ ${1:-} == --minutes ]]; then minutes=${2:?--minutes needs a number}; fi
dir=${VORN_SOAK_BUILD:-build-soak}
order_rate=${VORN_SOAK_ORDER_RATE:-20000}
price_rate=${VORN_SOAK_PRICE_RATE:-50000}
reconnect=${VORN_SOAK_RECONNECT:-60}

cmake -S . -B "$dir" -G Ninja -DVORN_SANITIZE=ON >/dev/null
cmake --build "$dir" -j 3 --target vornfakehost vornsoak vornapi

work=$(mktemp -d)
host_pid=
cleanup() {
  if [[ -n $host_pid ]]; then kill "$host_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The library's allocations stay at the end of a run by design (the lists); the figures, not
# the leak report, judge memory here.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
"$dir/tests/vornfakehost" --load --order-rate "$order_rate" --price-rate "$price_rate" \
  --reconnect "$reconnect" --minutes "$minutes" >"$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 100); do
  if grep -q 'price feed on' "$work/host.log"; then break; fi
  sleep 0.1
done
ports=$(sed -n 's/.*host on 127.0.0.1:\([0-9]*\), price feed on 127.0.0.1:\([0-9]*\).*/\1 \2/p' \
  "$work/host.log")
if [[ -z $ports ]]; then
  cat "$work/host.log"
  exit 1
fi
read -r host_port price_port <<<"$ports"
mkdir -p "$work/client"

set +e
"$dir/tests/vornsoak" --host-port "$host_port" --price-port "$price_port" --minutes "$minutes" \
  --client-path "$work/client/" | tee "$work/soak.log"
soak_status=${PIPESTATUS[0]}
set -e
kill -TERM "$host_pid" 2>/dev/null || true
wait "$host_pid" || true
host_pid=
echo
cat "$work/host.log"
echo "client path at the end: $(du -sh "$work/client" | cut -f1)"
(cd "$work/client" && du -ah . | sort -rh | head -6)

# Every streamed update and every price body the host sent must have reached the application.
read -r _ sent_stream _ sent_price < <(grep '^SENT_STREAM' "$work/host.log" || echo "x 0 x 0")
read -r _ got_stream _ got_price < <(grep '^STREAM_TOTAL' "$work/soak.log" || echo "x 0 x 0")
echo "stream updates: host sent ${sent_stream:-?}, application received ${got_stream:-?}"
echo "price bodies: host sent ${sent_price:-?}, application received ${got_price:-?}" \
  "(with those not posted during downloads)"
status=$soak_status
if [[ ${sent_stream:-} != "${got_stream:-}" || ${sent_price:-} != "${got_price:-}" ]]; then
  echo "soak: what the host sent and what arrived differ"
  status=1
fi
echo "soak: $([[ $status == 0 ]] && echo PASS || echo FAIL)"
exit "$status"

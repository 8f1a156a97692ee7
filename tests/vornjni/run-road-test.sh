#!/usr/bin/env bash
# Runs a Java road test against vornfakehost on free loopback ports, and stops the fake host
# however the test ends. The test gets its ARGS, then "host:port" of the fake host and of its
# price feed, then (from run-java-test.sh) a work folder.
# Usage: run-road-test.sh FAKEHOST SCRIPT RUN-JAVA-TEST JAVA LOCALE CLASSPATH LIBRARY_DIR CLASS [ARGS...]
set -uo pipefail
fakehost=$1 script=$2
shift 2
work=$(mktemp -d)
host=
stop() {
  if [ -n "$host" ]; then
    kill "$host" 2>/dev/null
    wait "$host" 2>/dev/null
  fi
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
"$fakehost" --script "$script" >"$work/host.log" 2>&1 &
host=$!
ports=
for _ in $(seq 100); do
  ports=$(sed -n 's/.*host on \(127\.0\.0\.1:[0-9]*\), price feed on \(127\.0\.0\.1:[0-9]*\),.*/\1 \2/p' \
    "$work/host.log")
  [ -n "$ports" ] && break
  kill -0 "$host" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$ports" ]; then
  echo "FAIL: vornfakehost did not start" >&2
  cat "$work/host.log" >&2
  exit 1
fi
# shellcheck disable=SC2086  # two addresses
"$@" $ports
status=$?
[ $status -eq 0 ] || cat "$work/host.log"
exit $status

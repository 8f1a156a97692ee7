#!/usr/bin/env bash
# Runs a Java road test against vornfakehost playing SCRIPT on free loopback ports, over plain
# links or TLS, and stops the fake host however the test ends. The test gets its ARGS, the mode,
# "host:port" of the fake host and of its price feed, then (from run-java-test.sh) a work folder.
# For TLS the fake host gets a certificate for 127.0.0.1 from a fresh CA, which the test's
# environment trusts alone (SSL_CERT_FILE).
# Usage: run-road-test.sh FAKEHOST SCRIPT plain|tls COMMAND [ARGS...]
set -uo pipefail
fakehost=$1 script=$2 mode=$3
shift 3
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
tls=()
if [ "$mode" = tls ]; then
  (
    cd "$work" &&
      openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 \
        -subj /CN=road-test-ca &&
      openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 &&
      printf 'subjectAltName=IP:127.0.0.1\n' >server.ext &&
      openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
        -extfile server.ext -out server.crt
  ) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; exit 1; }
  tls=(--tls "$work/server.crt" "$work/server.key")
  export SSL_CERT_FILE=$work/ca.crt SSL_CERT_DIR=$work/no-such-folder
fi
"$fakehost" --script "$script" "${tls[@]}" >"$work/host.log" 2>&1 &
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
"$@" "$mode" $ports
status=$?
[ $status -eq 0 ] || cat "$work/host.log"
exit $status

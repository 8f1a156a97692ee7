#!/usr/bin/env bash
# Runs a command against a private Xvfb server on a free display number, and stops the server
# however the command ends. Usage: with-xvfb.sh XVFB COMMAND [ARGS...]
set -uo pipefail
xvfb=$1
shift
work=$(mktemp -d)
server=
stop() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# The server picks the display number itself and writes it to the pipe once it accepts clients.
mkfifo "$work/display"
"$xvfb" -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
server=$!
number=
read -r -t 20 number <"$work/display"
if [ -z "$number" ]; then
  echo "FAIL: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
DISPLAY=":$number" "$@"

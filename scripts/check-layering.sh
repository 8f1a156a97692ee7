#!/usr/bin/env bash
# Checks that every include in Source/ points down the layers or stays level:
#   platform < core < links < api < sim, and inside the core
#   util < diag < store < wire < events < refdata < trading < session.
# Source/platform includes nothing from core/, links/, api/ or sim/; Source/core nothing from
# links/, api/ or sim/; Source/links nothing from api/ or sim/; Source/api nothing from sim/; a
# core file includes core/<room>/ only for its own room or a lower one. The simulator library
# has no receivers or sockets: Source/sim includes from links/ only the request builders. Prints each offending line and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/../Source"

files=$(find platform core links api sim -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.in' \) |
  sort)

# shellcheck disable=SC2086  # one argument per file; the names hold no spaces
awk -v layers="platform core links api sim" \
  -v sendSide="HostRequests LoginRequest LogOn OrderRequests OrderThrottle PriceRequests StrategyRequests WholesaleRequests FixedField" \
  -v rooms="util diag store wire events refdata trading session" '
function rank(name, order) { return (name in order) ? order[name] : -1 }

# A path below Source/ with "." and ".." folded away.
function normalise(path,    parts, n, i, out, depth) {
  n = split(path, parts, "/")
  depth = 0
  for (i = 1; i <= n; i++) {
    if (parts[i] == "." || parts[i] == "") continue
    if (parts[i] == "..") { if (depth > 0) depth--; continue }
    out[++depth] = parts[i]
  }
  path = ""
  for (i = 1; i <= depth; i++) path = path (i > 1 ? "/" : "") out[i]
  return path
}

function folder(path) { return sub(/\/[^\/]*$/, "", path) ? path : "" }

# The included file below Source/, looked for first beside the including file as the compiler
# does; empty for a header outside Source/.
function resolve(file, target,    beside) {
  beside = normalise(folder(file) "/" target)
  if (beside in present) return beside
  if (target in present || target ~ /^(platform|core|links|sim|api)\//) return target
  return ""
}

function report(where, text, why) {
  printf "Source/%s: %s\n  (%s)\n", where, text, why
  failed = 1
}

BEGIN {
  n = split(layers, list, " ")
  for (i = 1; i <= n; i++) layerRank[list[i]] = i
  n = split(rooms, list, " ")
  for (i = 1; i <= n; i++) roomRank[list[i]] = i
  n = split(sendSide, list, " ")
  for (i = 1; i <= n; i++) sendUnit["links/" list[i] ".h"] = 1
  while ((getline line < "/dev/stdin") > 0) present[line] = 1
}

FNR == 1 {
  split(FILENAME, parts, "/")
  fromLayer = parts[1]
  fromRoom = parts[2]
  # A core file outside the rooms is reported once; its includes have no room to compare.
  roomless = fromLayer == "core" &&
             (rank(fromRoom, roomRank) < 0 || split(FILENAME, parts, "/") != 3)
  if (roomless)
    report(FILENAME, "(the file itself)", "core files live in core/<room>/, rooms: " rooms)
}

/^[ \t]*#[ \t]*include[ \t]*[<"]/ {
  target = $0
  sub(/^[ \t]*#[ \t]*include[ \t]*[<"]/, "", target)
  sub(/[>"].*$/, "", target)
  path = resolve(FILENAME, target)
  if (path == "") next
  split(path, parts, "/")
  toLayer = parts[1]
  where = FILENAME ":" FNR
  if (fromLayer == "sim" && toLayer == "links" && !(path in sendUnit)) {
    report(where, $0, "sim includes from links/ only the request builders: " sendSide)
  } else if (rank(toLayer, layerRank) > rank(fromLayer, layerRank)) {
    report(where, $0, fromLayer " includes nothing from " toLayer "/")
  } else if (fromLayer == "core" && toLayer == "core" && !roomless) {
    toRoom = parts[2]
    if (rank(toRoom, roomRank) < 0)
      report(where, $0, path " is not in a core room; rooms: " rooms)
    else if (rank(toRoom, roomRank) > rank(fromRoom, roomRank))
      report(where, $0, "core/" fromRoom " includes core/" toRoom \
                        ", a higher room; order: " rooms)
  }
}

END {
  if (failed) print "layering check failed"
  exit failed
}
' $files <<<"$files"

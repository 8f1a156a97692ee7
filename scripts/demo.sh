#!/usr/bin/env bash
# Sets up, builds the libraries and runs the smoke example against the client library.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
build/examples/smoke build/Source/libvornapi.so

#!/usr/bin/env bash
# Checks the layering of the includes, sets up, then builds and runs every test three times: a
# -Werror build, an AddressSanitizer + UndefinedBehaviorSanitizer build, and a ThreadSanitizer
# build. After the first build it checks the install and the packages with programs built
# against them.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== layering of the includes"
scripts/check-layering.sh
scripts/setup.sh

jobs=$(nproc)
run() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DVORN_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== build with -Werror"
run build
echo "== staged install, Debian packages and programs built against both"
scripts/package-test.sh build
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run build-asan -DVORN_SANITIZE=ON
echo "== ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1 run build-tsan -DVORN_TSAN=ON
echo "== fuzz targets (clang, a fixed number of runs each)"
scripts/fuzz.sh

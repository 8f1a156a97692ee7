#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each for a fixed number of inputs from its seed corpus in fuzz/corpus/<target>/.
# VORN_FUZZ_BUILD names the build folder (default build-fuzz), VORN_FUZZ_RUNS the inputs per
# target (default 200000).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${VORN_FUZZ_BUILD:-build-fuzz}
runs=${VORN_FUZZ_RUNS:-200000}
targets=(frames fields reference order fill price)

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DVORN_WERROR=ON -DVORN_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/#/vorn_fuzz_}"

for target in "${targets[@]}"; do
  echo "== fuzz $target: $runs runs"
  # New inputs go to the first folder, in the build folder; the seeds stay as they are.
  work="$dir/corpus/$target"
  mkdir -p "$work"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$dir/fuzz/vorn_fuzz_$target" -runs="$runs" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$dir/crash-$target-" "$work" "fuzz/corpus/$target"
done

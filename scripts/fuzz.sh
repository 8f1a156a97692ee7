#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each from its seed corpus in fuzz/corpus/<target>/.
#
# Short run (CI): one target after another, VORN_FUZZ_RUNS inputs each (default 200000),
# the slower targets bounded to VORN_FUZZ_SLOW_SECONDS seconds each (default 60).
# --long: every target at once, one core each, for VORN_FUZZ_LONG_RUNS inputs (default 10^7),
# then a line per target with its inputs, rate and result. VORN_FUZZ_LONG_SECONDS bounds each
# target's long run in time as well (default: no bound); a target that reaches the bound first
# is reported with the inputs it ran.
# VORN_FUZZ_BUILD names the build folder (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
if [[ ${1:-} == --long ]]; then long=1; fi

dir=${VORN_FUZZ_BUILD:-build-fuzz}
runs=${VORN_FUZZ_RUNS:-200000}
slow_seconds=${VORN_FUZZ_SLOW_SECONDS:-60}
long_runs=${VORN_FUZZ_LONG_RUNS:-10000000}
long_seconds=${VORN_FUZZ_LONG_SECONDS:-0}
targets=(frames fields reference order fill price host store simdata bridge marshal market tls)
# Targets of a few hundred to a few thousand inputs a second (whole host bodies; files written
# and read for every input; a TLS handshake for every input that ends a connection; a long run
# of market operations per input).
slow_targets=" host store simdata tls market "
# Targets whose API object keeps lists and logs across inputs, so that nearly every input
# allocates more than it frees and the leak check would scan the heap after each one.
kept_state_targets=" host store simdata "

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DVORN_WERROR=ON -DVORN_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/#/vorn_fuzz_}"

# The options of a target beyond the common ones.
target_options() {
  local target=$1
  if [[ $kept_state_targets == *" $target "* ]]; then echo "-detect_leaks=0"; fi
}

run_target() {
  local target=$1 count=$2
  shift 2
  # New inputs go to the first folder, in the build folder; the seeds stay as they are.
  local work="$dir/corpus/$target"
  mkdir -p "$work"
  # shellcheck disable=SC2046
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$dir/fuzz/vorn_fuzz_$target" -runs="$count" -max_len=4096 -print_final_stats=1 \
    $(target_options "$target") "$@" -artifact_prefix="$dir/crash-$target-" \
    "$work" "fuzz/corpus/$target"
}

if [[ $long == 0 ]]; then
  for target in "${targets[@]}"; do
    if [[ $slow_targets == *" $target "* ]]; then
      echo "== fuzz $target: $runs runs, at most ${slow_seconds}s"
      run_target "$target" "$runs" -max_total_time="$slow_seconds"
    else
      echo "== fuzz $target: $runs runs"
      run_target "$target" "$runs"
    fi
  done
  exit 0
fi

echo "== fuzz --long: ${#targets[@]} targets, $long_runs inputs each, in parallel"
pids=()
for target in "${targets[@]}"; do
  run_target "$target" "$long_runs" -max_total_time="$long_seconds" >"$dir/long-$target.log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  result=ok
  if ! wait "${pids[$i]}"; then
    result="CRASH (see $dir/long-$target.log)"
    failed=1
  fi
  inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/long-$target.log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/long-$target.log" | tail -1)
  if [[ $result == ok && ${inputs:-0} -lt $long_runs ]]; then
    result="ok, time bound reached before $long_runs inputs"
  fi
  printf '%-10s inputs %-10s rate %-7s/s  %s\n' "$target" "${inputs:-?}" "${rate:-?}" "$result"
done
exit $failed

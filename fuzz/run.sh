#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in build-fuzz
# and runs each for a bounded time from its seed corpus in fuzz/corpus/<target>/. New inputs that
# reach new code go to build-fuzz/fuzz/corpus/<target>/; a crash leaves its input in
# build-fuzz/fuzz/artifacts/ and makes the script fail.
# Usage: fuzz/run.sh [seconds per target, default 60] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
build=${FUZZ_BUILD:-build-fuzz}

bash tools/install-deps.sh fuzz
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

CXX=clang++ cmake -S . -B "$build" -DTALVO_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$build/fuzz/artifacts"
summary=()
status=0
for target in "${targets[@]}"; do
  work="$build/fuzz/corpus/$target"
  log="$build/fuzz/$target.log"
  mkdir -p "$work" "fuzz/corpus/$target"
  echo "fuzz: $target for ${seconds} s"
  set +e
  ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz/artifacts/$target-" \
    "$work" "fuzz/corpus/$target" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$last")
  if [ $rc -ne 0 ]; then
    status=1
    result="FAILED (exit $rc, see $log)"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 || true
  else
    result=ok
  fi
  summary+=("$(printf '%-18s %10s %8s %6s %6s %6s  %s' "$target" "${execs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "${units:-?}" "$result")")
done

printf '%-18s %10s %8s %6s %6s %6s  %s\n' target execs exec/s cov ft corpus result
printf '%s\n' "${summary[@]}"
exit $status

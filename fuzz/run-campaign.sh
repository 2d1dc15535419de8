#!/usr/bin/env bash
# Runs every fuzz target for SECONDS on its seed corpus (a scratch copy, so the kept
# corpus stays small) and prints, per target, the executions, the coverage (cov: edges,
# ft: features) and whether it found anything. Findings are kept under
# build-fuzz-clang/findings/<target>/ (libFuzzer's crash-, leak-, timeout- and oom- files).
#   fuzz/run-campaign.sh SECONDS [TARGET...]
# Environment: FUZZ_BUILD (build directory, default build-fuzz-clang beside fuzz/),
# FUZZ_JOBS (parallel compile jobs, default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${1:?usage: run-campaign.sh SECONDS [TARGET...]}
shift
build=${FUZZ_BUILD:-$root/build-fuzz-clang}
cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)
[ -n "$cxx" ] || { echo "clang++ not found (Debian: clang, libclang-rt-14-dev)"; exit 1; }
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in "$here"/corpus/*/; do targets+=("$(basename "$d")"); done
fi
# Limits: an input is slow beyond 10 s; a single allocation beyond 256 MB or a process
# beyond 1.5 GB is an unbounded allocation (no seed needs a tenth of that).
limits=(-timeout=10 -rss_limit_mb=1536 -malloc_limit_mb=256 -max_len=16384)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
printf '%-20s %10s %8s %8s %8s  %s\n' target executions cov ft corpus result
for t in "${targets[@]}"; do
  bin=$build/fuzz_$t
  [ -x "$bin" ] || { echo "$t: no such target"; failed=1; continue; }
  work=$build/work/$t findings=$build/findings/$t
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  log=$build/findings/$t.log
  status=0
  "$bin" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" "$here/corpus/$t" >"$log" 2>&1 || status=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  [ -n "$done_line" ] || done_line=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  [ -n "$execs" ] || execs=$(echo "$done_line" | sed -n 's/^#\([0-9]*\).*/\1/p')
  cov=$(echo "$done_line" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$done_line" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
  corp=$(echo "$done_line" | sed -n 's/.*corp: \([0-9]*\).*/\1/p')
  result=ok
  if [ $status -ne 0 ]; then
    result="FOUND (exit $status): $(grep -m1 -E 'ERROR|SUMMARY|Abnormal|undefined exit' "$log" || echo see log) -> $log"
    failed=1
  fi
  printf '%-20s %10s %8s %8s %8s  %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result"
done
exit $failed

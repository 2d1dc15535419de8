#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, and a build with the
# address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=${JOBS:-2}
result=0
# Every reader's fuzz target for a short time on its seed corpus (clang's libFuzzer).
echo "== fuzz smoke"
fuzz/run-smoke.sh || result=1
for variant in normal sanitize; do
  dir=build-tests-$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ $variant = sanitize ] && flags+=(-DPLUMEX_SANITIZE=ON)
  echo "== $variant build"
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $variant tests"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" -j"$jobs" --output-on-failure || result=1
done
exit $result

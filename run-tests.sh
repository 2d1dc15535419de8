#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build (with the fuzz smoke run of
# every reader's target), and a build with the address and undefined-behaviour sanitizers.
#   ./run-tests.sh           everything (what CI runs)
#   ./run-tests.sh --quick   the unit tests of the normal build only
# Test labels for ctest -L: unit, e2e, property, fuzz.
set -euo pipefail
cd "$(dirname "$0")"
quick=0
[ "${1:-}" = --quick ] && quick=1
scripts/install-deps.sh
jobs=${JOBS:-2}
result=0
variants=(normal sanitize)
[ $quick = 1 ] && variants=(normal)
for variant in "${variants[@]}"; do
  dir=build-tests-$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ $variant = sanitize ] && flags+=(-DPLUMEX_SANITIZE=ON)
  echo "== $variant build"
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $variant tests"
  select=()
  [ $quick = 1 ] && select=(-L unit)
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" -j"$jobs" --output-on-failure "${select[@]}" || result=1
done
exit $result

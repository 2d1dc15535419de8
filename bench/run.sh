#!/usr/bin/env bash
# Builds and runs every benchmark, printing their figures. Usage: bench/run.sh [build-dir]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-bench}
cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLUMEX_TESTS=OFF >/dev/null
cmake --build "$build" --target plumex benchmarks -j2 >/dev/null
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done

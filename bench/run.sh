#!/usr/bin/env bash
# Builds and runs every benchmark, printing their figures, then one table of every figure
# next to the anchor timed in the same run (the benchmarks' "ROW|shape|figure|anchor|ratio"
# lines). Usage: bench/run.sh [build-dir [benchmark...]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-bench}
shift || true
cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLUMEX_TESTS=OFF >/dev/null
cmake --build "$build" --target plumex plumex-logwriter benchmarks -j2 >/dev/null
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  if [ $# -gt 0 ]; then
    case " $* " in *" ${name#bench_} "*) ;; *) continue ;; esac
  fi
  echo "== $name"
  "$b" | tee -a "$rows" | grep -v '^ROW|' || true
done
echo
echo "== figures and their anchors (ratio = figure time / anchor time)"
grep '^ROW|' "$rows" | cut -d'|' -f2- |
  awk -F'|' '{ printf "%-44s %-34s %-30s %6s\n", $1, $2, $3, $4 }' |
  { printf "%-44s %-34s %-30s %6s\n" shape figure anchor ratio; cat; }

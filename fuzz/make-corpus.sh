#!/usr/bin/env bash
# Regenerates the seed corpora that come from plumex's own writers: solver logs of the
# log writer in both storage modes and all styles (some with rolled-back noise and
# planted faults), the QBM files plumex writes from them, and formulas for the QDIMACS
# target. The DDDMP samples, formulas of the shared test set, expression texts,
# configuration files and command lines are kept in corpus/ as they are.
#   fuzz/make-corpus.sh [BUILD_DIR]   (a normal build with plumex and plumex-logwriter)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
writer=$build/tools/plumex-logwriter/plumex-logwriter
plumex=$build/plumex
[ -x "$writer" ] && [ -x "$plumex" ] || { echo "build plumex and plumex-logwriter in $build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
logs=$here/corpus/log_reader qbms=$here/corpus/qbm qd=$here/corpus/qdimacs
mkdir -p "$logs" "$qbms" "$qd"
n=0
# seeds whose random formula is true (the writer's verdict 10)
for seed in 1 6 7 9; do
  vars=8 clauses=12
  f=$work/r$seed.qdimacs
  "$writer" gen --vars $vars --clauses $clauses --blocks 3 --seed $seed -o "$f"
  # the QDIMACS target takes the prefix variable count as its first byte
  count=$(awk '$1=="a"||$1=="e"{for(i=2;i<=NF;i++) if($i!="0") c++} END{print c+0}' "$f")
  { printf "\\x$(printf %02x "$count")"; cat "$f"; } > "$qd/gen$seed.qdimacs"
  for mode in text binary; do
    for style in search symbolic mix; do
      n=$((n + 1))
      noise=0; [ $((n % 3)) -eq 0 ] && noise=30
      out=$work/r$seed-$mode-$style
      "$writer" -q --mode $mode --style $style --noise $noise --seed $seed --record r.qdimacs -o "$out" "$f" >/dev/null 2>&1 || [ $? -eq 10 ] || continue
      [ "$(stat -c %s "$out.Tobrin.log")" -le 16384 ] || continue
      cp "$out.Tobrin.log" "$logs/r$seed-$mode-$style.Tobrin.log"
      if [ $seed -le 7 ]; then
        cp "$f" "$work/r.qdimacs"
        (cd "$work" && "$plumex" -v 0 "$(basename "$out").Tobrin.log" >/dev/null) || true
        [ -f "$out.qbm" ] && cp "$out.qbm" "$qbms/r$seed-$mode-$style.qbm"
      fi
    done
  done
done
f=$work/r1.qdimacs
# Window edges: the log target reads through a window of a few hundred bytes, so these
# split one-literal entries, branch headers and embedded dumps across two windows.
for mode in text binary; do
  "$writer" -q --mode $mode --style search --padding tiny --size 6K --seed 1 --record r.qdimacs \
    -o "$work/window-tiny-$mode" "$f" >/dev/null 2>&1 || true
  "$writer" -q --mode $mode --style symbolic --padding reassign --size 8K --seed 1 --record r.qdimacs \
    -o "$work/window-dumps-$mode" "$f" >/dev/null 2>&1 || true
  for k in tiny dumps; do
    [ -f "$work/window-$k-$mode.Tobrin.log" ] && cp "$work/window-$k-$mode.Tobrin.log" "$logs/"
  done
done
for fault in bad-version bad-format no-trailer outcome-false back-offset unknown-kind end-in-middle \
             negative-rollback truncated-int unbalanced-branch res-contradiction inconsistent; do
  "$writer" -q --fault $fault --style mix --seed 2 --record r.qdimacs -o "$work/fault-$fault" "$f" >/dev/null 2>&1 || true
  [ -f "$work/fault-$fault.Tobrin.log" ] || continue
  cp "$work/fault-$fault.Tobrin.log" "$logs/fault-$fault.Tobrin.log"
done
echo "logs: $(ls "$logs" | wc -l), QBM files: $(ls "$qbms" | wc -l), formulas: $(ls "$qd" | wc -l)"

#!/usr/bin/env bash
# One-step set-up: installs what is missing, builds Plumex and its tools, and certifies
# the bundled example log.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
echo
echo "== plumex examples/example.Tobrin.log"
status=0
build/plumex examples/example.Tobrin.log || status=$?
echo "(exit status $status)"

#!/usr/bin/env bash
# Builds the fuzz targets (clang, address and undefined-behaviour sanitizers) and runs
# each one for a short time on its seed corpus, one after the other. Exits non-zero
# when a target finds a crash, a leak, a hang or an oversized allocation, or when a
# target cannot be built.
#   fuzz/run-smoke.sh [SECONDS_PER_TARGET]   (default 6)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-6}
exec "$here/run-campaign.sh" "$seconds"

#!/usr/bin/env bash
# A Slurm job array in which every task runs its own shard of one plumex batch run:
#
#   sbatch --array=0-15 scripts/slurm-array.sh [OPT] DIR [TIMEOUT]
#
# Task SLURM_ARRAY_TASK_ID of SLURM_ARRAY_TASK_COUNT runs
#   plumex -j C -shard K/N [OPT] DIR [TIMEOUT]
# with N the number of tasks, K the task's place in the array (counted from its first
# index, so the indices must be consecutive: no step, no list) and C the task's
# processors (--cpus-per-task, default 1). Each task writes its own output file and,
# with -report, its own report files (NAME.shardKofN). When all tasks have ended,
#   scripts/sum-shards.sh plumex-JOBID-*.out
# adds up their final lines. PLUMEX names the binary (default: plumex on the PATH).
#SBATCH --job-name=plumex
#SBATCH --output=plumex-%A-%a.out
#SBATCH --cpus-per-task=1
set -euo pipefail
id=${SLURM_ARRAY_TASK_ID:?this script runs as a task of a Slurm job array (sbatch --array=0-N)}
count=${SLURM_ARRAY_TASK_COUNT:?this script runs as a task of a Slurm job array (sbatch --array=0-N)}
shard=$((id - ${SLURM_ARRAY_TASK_MIN:-0}))
if [ "$shard" -lt 0 ] || [ "$shard" -ge "$count" ]; then
  echo "task $id is not one of $count consecutive indices" >&2
  exit 2
fi
# plumex ends with its number of successes (a byte), which is no failure of the task:
# the final line of the output is what counts.
"${PLUMEX:-plumex}" -j "${SLURM_CPUS_PER_TASK:-1}" -shard "$shard/$count" "$@" || true

#!/usr/bin/env bash
# A Slurm job array in which every task runs its own shard of one plumex batch run:
#
#   sbatch --array=0-15 scripts/slurm-array.sh [OPT] DIR [TIMEOUT]
#
# Task SLURM_ARRAY_TASK_ID of SLURM_ARRAY_TASK_COUNT runs
#   plumex -j C -shard K/N -resume RECORD [OPT] DIR [TIMEOUT]
# with N the number of tasks, K the task's place in the array (counted from its first
# index, so the indices must be consecutive: no step, no list) and C the task's
# processors (--cpus-per-task, default 1). Each task writes its own output file, its own
# outcome record RECORD.shardKofN and, with -report, its own report files. RECORD is
# PLUMEX_RECORD (default plumex.jsonl, in the submission directory): submitting the same
# array again resumes every shard where its record ends; remove the records to start over.
# When all tasks have ended,
#   scripts/sum-shards.sh plumex.jsonl.shard*
# checks that every shard is there and complete and adds them up. PLUMEX names the
# binary (default: plumex on the PATH).
#
# plumex ends a batch run with its number of successes, which is no failure of the task.
# The task fails (and says why) when plumex is missing, when it rejected the command
# line or could not start, and when it was interrupted: then its exit status is passed
# on (1 when that is 0).
#SBATCH --job-name=plumex
#SBATCH --output=plumex-%A-%a.out
#SBATCH --cpus-per-task=1
set -uo pipefail
id=${SLURM_ARRAY_TASK_ID:?this script runs as a task of a Slurm job array (sbatch --array=0-N)}
count=${SLURM_ARRAY_TASK_COUNT:?this script runs as a task of a Slurm job array (sbatch --array=0-N)}
shard=$((id - ${SLURM_ARRAY_TASK_MIN:-0}))
if [ "$shard" -lt 0 ] || [ "$shard" -ge "$count" ]; then
  echo "task $id is not one of $count consecutive indices" >&2
  exit 2
fi
plumex=${PLUMEX:-plumex}
if ! command -v "$plumex" >/dev/null 2>&1; then
  echo "plumex is not there: \"$plumex\" (set PLUMEX or the PATH)" >&2
  exit 127
fi
# The record the run appends to: ours, unless the options name one (then they decide
# whether to resume, and the last -record, else -resume, names it).
record=${PLUMEX_RECORD:-plumex.jsonl}
named_record="" named_resume="" previous=""
for arg in "$@"; do
  case "$previous" in
    -record) named_record=$arg ;;
    -resume) named_resume=$arg ;;
  esac
  previous=$arg
done
own=(-resume "$record")
[ -n "$named_record$named_resume" ] && own=()
file=${named_record:-${named_resume:-$record}}.shard${shard}of${count}
lines_before=0
[ -f "$file" ] && lines_before=$(wc -l < "$file")

"$plumex" -j "${SLURM_CPUS_PER_TASK:-1}" -shard "$shard/$count" "${own[@]}" "$@"
status=$?

last=""
[ -f "$file" ] && last=$(tail -n +"$((lines_before + 1))" "$file" | tail -n 1)
case "$last" in
  *'"record":"end"'*'"ended":"complete"'*)
    exit 0 ;;
  *'"record":"end"'*)
    echo "shard $shard/$count was interrupted (exit status $status); submit the array again to resume it" >&2 ;;
  *)
    echo "shard $shard/$count did not run to its end (exit status $status); see its output" >&2 ;;
esac
[ "$status" -ne 0 ] && exit "$status"
exit 1

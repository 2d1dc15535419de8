#!/bin/sh
# Adds up the final lines "N/M instances successfully processed." of the outputs of a
# batch run's shards (GNU parallel's or a Slurm array's), and prints the total in the
# same form. A file without that line (a shard that has not finished) is named on
# standard error and the exit status is 1.
#   scripts/sum-shards.sh FILE...
exec awk '
  FNR == 1 { seen[FILENAME] = 0 }
  /^[0-9]+\/[0-9]+ instances successfully processed\.$/ {
    split($1, n, "/"); successes += n[1]; total += n[2]; seen[FILENAME] = 1
  }
  END {
    for (f in seen) if (!seen[f]) { print f ": no final count line" > "/dev/stderr"; bad = 1 }
    printf "%d/%d instances successfully processed.\n", successes, total
    exit bad
  }' "$@"

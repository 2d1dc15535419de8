#!/bin/sh
# Adds up the outcome records ("-record FILE") of the shards of one batch run and prints
# the run's final line and its runs per outcome:
#
#   scripts/sum-shards.sh RECORD...        e.g. scripts/sum-shards.sh run.jsonl.shard*
#
# It checks first that the records belong together: every shard K/N, K = 0 to N-1, once
# and only once, each complete (its last line ends a run that was not interrupted).
# Otherwise it names what is wrong on standard error, prints no total and ends with 1.
# With -partial it prints the totals so far all the same (to watch a run in progress)
# and names what is not there yet; the status is then 0.
partial=0
if [ "${1:-}" = "-partial" ]; then
  partial=1
  shift
fi
if [ $# -eq 0 ]; then
  echo "usage: scripts/sum-shards.sh [-partial] RECORD..." >&2
  exit 2
fi
for f in "$@"; do
  shift
  if [ -f "$f" ] && [ -r "$f" ]; then
    set -- "$@" "$f"
  else
    echo "$f: no such record (or not readable)" >&2
    [ "$partial" -eq 1 ] || exit 1
  fi
done
[ $# -gt 0 ] || exit 1
exec awk -v partial="$partial" '
  # The raw value of a key in one of our JSON lines (strings keep their escapes).
  function field(line, key,    at, rest, i, c, out) {
    at = index(line, "\"" key "\":")
    if (!at) return ""
    rest = substr(line, at + length(key) + 3)
    if (substr(rest, 1, 1) != "\"") {
      out = rest
      sub(/[,}].*/, "", out)
      return out
    }
    out = ""
    for (i = 2; i <= length(rest); i++) {
      c = substr(rest, i, 1)
      if (c == "\\") { out = out c substr(rest, i + 1, 1); i++; continue }
      if (c == "\"") return out
      out = out c
    }
    return out
  }
  function fail(text) { print text > "/dev/stderr"; bad = 1 }
  BEGIN { for (i = 1; i < ARGC; i++) files[++nfiles] = ARGV[i] }
  {
    kind = field($0, "record")
    if (substr($0, length($0)) != "}") { last[FILENAME] = "torn"; next }
    shard = field($0, "shard")
    if (shard != "") {
      if (shardOf[FILENAME] == "") shardOf[FILENAME] = shard
      else if (shardOf[FILENAME] != shard) mixed[FILENAME] = 1
    }
    if (kind == "instance") {
      key = FILENAME SUBSEP field($0, "path") SUBSEP field($0, "pass")
      outcome[key] = field($0, "outcome")
      last[FILENAME] = "instance"
    } else if (kind == "start") {
      last[FILENAME] = "start"
    } else if (kind == "end") {
      last[FILENAME] = "end"
      ended[FILENAME] = field($0, "ended")
      found[FILENAME] = field($0, "instances") + 0
      succeeded[FILENAME] = field($0, "successes") + 0
    }
  }
  END {
    count = 0
    for (i = 1; i <= nfiles; i++) {
      f = files[i]
      s = shardOf[f]
      if (s == "") { fail(f ": no shard named (is it an outcome record?)"); continue }
      if (mixed[f]) fail(f ": lines of more than one shard")
      split(s, kn, "/")
      k = kn[1] + 0; n = kn[2] + 0
      if (count == 0) count = n
      else if (n != count) fail(f ": shard " s " is not one of " count)
      if (k in fileOf) fail("shard " s " is given twice (" fileOf[k] ", " f ")")
      else fileOf[k] = f
      if (last[f] != "end") fail(f ": shard " s " is not complete (it has not ended" (last[f] == "torn" ? ", its last line is torn" : "") ")")
      else if (ended[f] != "complete") fail(f ": shard " s " is not complete (interrupted by " ended[f] "; resume it)")
      successes += succeeded[f]; total += found[f]
    }
    for (k = 0; k < count; k++)
      if (!(k in fileOf)) fail("shard " k "/" count " is missing")
    for (key in outcome) runs[outcome[key]]++
    if (bad && !partial) exit 1
    printf "%d/%d instances successfully processed.\n", successes, total
    line = ""
    split("VALID INVALID TIMEOUT MEMOUT CRASH ERROR", order, " ")
    for (i = 1; i <= 6; i++)
      if (order[i] in runs) { line = line (line == "" ? "" : ", ") runs[order[i]] " " order[i]; delete runs[order[i]] }
    for (o in runs) line = line (line == "" ? "" : ", ") runs[o] " " o
    printf "runs: %s\n", line == "" ? "none" : line
    exit 0
  }' "$@"

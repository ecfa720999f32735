#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build for a number of seconds each and
# prints, per target, the executions, libFuzzer's coverage (cov:, ft:) and
# the findings.
#
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]      (targets: abif qrd text formats matrix pipeline)
#
# Before a target is fuzzed it replays fuzz/regressions/<target>/, the
# minimised inputs of past findings: each must run clean. The growing corpus
# lives in BUILD_DIR/corpus/<target>, findings in BUILD_DIR/findings/<target>
# (crash-*, leak-*, timeout-*, oom-*), the log in BUILD_DIR/logs/<target>.log.
# FUZZ_NICE (default 10) is the niceness of the runs; FUZZ_MAX_RUNS, when
# set, ends a target after that many executions even before SECONDS. Exits 1
# when anything was found.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2
  exit 2
fi
build=$1
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(abif qrd text formats matrix pipeline)
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -x "$build/fuzz/fuzz_seeds" ]; then
  echo "fuzz: $build/fuzz/fuzz_seeds missing; build the fuzz targets first (make fuzz-build)" >&2
  exit 2
fi
rm -rf "$build/seeds"
"$build/fuzz/fuzz_seeds" "$build/seeds" || exit 2
# Real instrument files, where the shared data lie beside the project, seed
# the readers: the fuzzer damages them in every way a copy or a disk can.
for f in "$here/../../shared/data/abif/"*.ab1 "$here/../../shared/data/abif/"*.fsa; do
  [ -f "$f" ] && cp "$f" "$build/seeds/formats/" && cp "$f" "$build/seeds/abif/"
done
mkdir -p "$build/logs"

# Per target: seconds a single input may take before it counts as a hang,
# and the largest input (the road's capillaries are up to 4 x 20,000
# 16-bit samples).
timeout_of() { [ "$1" = pipeline ] && echo 60 || echo 10; }
maxlen_of() { [ "$1" = pipeline ] && echo 200000 || echo 65536; }

count_findings() {
  find "$1" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' \) 2>/dev/null | wc -l
}

failed=0
printf '%-10s %12s %10s %10s %9s  %s\n' target executions cov ft seconds findings
for t in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$t"
  if [ ! -x "$exe" ]; then
    printf '%-10s skipped: %s not built\n' "$t" "$exe"
    continue
  fi
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$findings"
  regressions="$here/regressions/$t"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    if ! "$exe" -runs=0 -timeout="$(timeout_of "$t")" "$regressions"/* >"$log.regressions" 2>&1; then
      printf '%-10s REGRESSION: a past finding fails again (see %s)\n' "$t" "$log.regressions"
      failed=1
      continue
    fi
  fi
  extra=()
  [ -f "$here/dicts/$t.dict" ] && extra+=(-dict="$here/dicts/$t.dict")
  [ -n "${FUZZ_MAX_RUNS:-}" ] && extra+=(-runs="$FUZZ_MAX_RUNS")
  before=$(count_findings "$findings")
  start=$(date +%s)
  nice -n "${FUZZ_NICE:-10}" "$exe" "$corpus" "$build/seeds/$t" "${extra[@]}" \
    -max_total_time="$seconds" -timeout="$(timeout_of "$t")" -max_len="$(maxlen_of "$t")" \
    -rss_limit_mb=2048 -report_slow_units=100000 -artifact_prefix="$findings/" \
    -print_final_stats=1 >"$log" 2>&1
  rc=$?
  took=$(($(date +%s) - start))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  new=$(($(count_findings "$findings") - before))
  if [ "$rc" -ne 0 ] || [ "$new" -gt 0 ]; then
    failed=1
    summary="$new new (exit $rc): $(grep -m1 -E 'ERROR|invariant broken|runtime error' "$log")"
  else
    summary=none
  fi
  printf '%-10s %12s %10s %10s %9s  %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$took" "$summary"
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz: FINDINGS — inputs in $build/findings/<target>/, logs in $build/logs/" >&2
fi
exit "$failed"

#!/bin/sh
# Runs each libFuzzer target for a bounded time, starting from its seed
# corpus, and fails when any of them finds something. The build writes the
# seeds and dictionaries from the case tables into BUILD_DIR/fuzz-seeds/.
#
#   FUZZ_SECONDS=30 sh tests/fuzz/run_fuzzers.sh [BUILD_DIR]
#
# FUZZ_SECONDS is the time per target: a whole number of seconds, default
# 30, 0 skips fuzzing; anything else is refused. From 300 s on, the argument
# list gets a further pass of a fifth of that time that starts from the long
# command lines of fuzz-seeds/argument_list_long (up to 1 MiB, seconds each
# under the sanitizers).
# BUILD_DIR defaults to build/host-asan. A crashing input is kept under
# tests/fuzz/crashes/TARGET/, where the fuzz.regression.TARGET tests replay
# it from then on; commit it with the fix.
set -eu
cd "$(dirname "$0")/../.."
seconds="${FUZZ_SECONDS:-30}"
build="${1:-build/host-asan}"
# A mistyped time must fail the run, not skip fuzzing and pass.
if ! expr "$seconds" : '[0-9]\{1,9\}$' >/dev/null; then
  echo "run_fuzzers: FUZZ_SECONDS must be a whole number of seconds, 0 or more, not '$seconds'" >&2
  exit 2
fi
seconds=$(expr "$seconds" + 0 || true)  # no leading zeros: not octal
[ "$seconds" -gt 0 ] || { echo "fuzzing skipped (FUZZ_SECONDS=0)"; exit 0; }
long_pass_from=300
status=0

# fuzz TARGET PASS SECONDS MAX_LEN DICT SEEDS
fuzz() {
  target=$1 pass=$2 time=$3 max_len=$4 dict=$5 seeds=$6
  fuzzer="$build/fuzz-$target"
  [ -x "$fuzzer" ] || { echo "fuzz $target: $fuzzer is missing"; status=1; return; }
  crashes="tests/fuzz/crashes/$target"
  work="$build/fuzz-work/$pass"
  log="$build/fuzz-$pass.log"
  stamp="$build/fuzz-$pass.started"
  mkdir -p "$crashes" "$work"
  : >"$stamp"
  # New inputs go to the work corpus in build/; the seeds stay as committed.
  if "$fuzzer" "$work" "$seeds" \
      -max_total_time="$time" -max_len="$max_len" -timeout=30 -rss_limit_mb=4096 \
      -dict="$seeds_dir/$dict" -use_value_profile=1 -print_final_stats=1 \
      -artifact_prefix="$crashes/" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  echo "fuzz $pass: $result, ${runs:-?} executions in $time s (${rate:-?}/s)"
  if [ "$result" = FAILED ]; then
    tail -n 60 "$log"
    # In base64 too, so the input survives a CI run that keeps no files.
    find "$crashes" -type f -newer "$stamp" | while read -r input; do
      echo "kept $input:"
      head -c 65536 "$input" | base64
    done
  fi
}

seeds_dir="$build/fuzz-seeds"
fuzz parse_integer parse_integer "$seconds" 1024 parse_integer.dict "$seeds_dir/parse_integer"
fuzz argument_list argument_list "$seconds" 1048576 command_line.dict "$seeds_dir/argument_list"
if [ "$seconds" -ge "$long_pass_from" ]; then
  fuzz argument_list argument_list_long $((seconds / 5)) 1048576 command_line.dict \
    "$seeds_dir/argument_list_long"
fi
fuzz dispatch dispatch "$seconds" 4096 command_line.dict "$seeds_dir/dispatch"
exit $status

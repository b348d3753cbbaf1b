#!/usr/bin/env bash
# Runs the command fuzzer for SECONDS (default 600) from the seed corpus in fuzz/corpus and
# prints one line: executions, coverage, duration and findings. What it learns stays in a
# temporary folder; the seed corpus is never changed. A finding is kept and its path shown.
#   fuzz/run.sh [SECONDS] [FUZZER]      (FUZZER defaults to build/fuzz/command_fuzzer)
# Exit status: 0 no finding, 1 findings, 77 when the fuzzer has not been built (clang's
# libFuzzer missing).
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
seconds="${1:-600}"
fuzzer="${2:-$here/../build/fuzz/command_fuzzer}"
if [[ ! -x $fuzzer ]]; then
  echo "fuzz: no fuzzer at $fuzzer (it needs clang and its libFuzzer runtime, libclang-rt-N-dev; scripts/setup.sh --tests installs them); skipped"
  exit 77
fi
base=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm # saves fsync; tmpfs makes that free
work="$(mktemp -d "$base/lanternfall-fuzz-run-XXXXXX")"
mkdir -p "$work/corpus" "$work/findings" "$work/tmp"
start=$SECONDS
TMPDIR="$work/tmp" "$fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=8192 \
  -dict="$here/commands.dict" -print_final_stats=1 -artifact_prefix="$work/findings/" \
  "$work/corpus" "$here/corpus" >"$work/log" 2>&1
status=$?
elapsed=$((SECONDS - start))
execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)"
read -r cov ft < <(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\).*/\1 \2/p' "$work/log" | tail -1)
findings="$(find "$work/findings" -type f | wc -l)"
echo "fuzz: ${execs:-?} executions in ${elapsed} s ($(( ${execs:-0} / (elapsed > 0 ? elapsed : 1) ))/s)," \
  "coverage ${cov:-?} edges, ${ft:-?} features, corpus $(ls "$work/corpus" | wc -l) new inputs," \
  "${findings} findings"
if ((findings > 0 || status != 0)); then
  grep -v '^#[0-9]' "$work/log" | tail -60
  echo "fuzz: the log and the findings are kept in $work"
  exit 1
fi
rm -rf "$work"

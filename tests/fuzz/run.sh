#!/usr/bin/env bash
# Runs the fuzz targets, FUZZ_JOBS at a time (default one), each for a given
# time.
#   run.sh BUILD_DIR SECONDS CORPUS_MODE TARGET...
# CORPUS_MODE `fresh` starts each target from a copy of the committed seeds
# in a temporary folder that is removed afterwards; `keep` grows the corpus
# in BUILD_DIR/corpus/TARGET from one run to the next. Inputs that fail are
# saved in BUILD_DIR/findings. Exits non-zero when any target fails.
set -uo pipefail

build=$1 seconds=$2 mode=$3
shift 3
jobs=${FUZZ_JOBS:-1}
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
findings=$build/findings
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One target; its verdict goes to $work/TARGET.verdict, the line it prints
# to $work/TARGET.said, so that parallel runs do not mix their words.
fuzz() {
  local target=$1 corpus
  if [[ $mode == keep ]]; then
    corpus=$build/corpus/$target
    if [[ ! -d $corpus ]]; then
      mkdir -p "$corpus" && cp "$seeds/$target"/* "$corpus"/
    fi
  else
    corpus=$work/corpus-$target
    mkdir -p "$corpus" && cp "$seeds/$target"/* "$corpus"/
  fi
  local log=$build/fuzz_$target.log
  "$build/fuzz_$target" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$corpus" >"$log" 2>&1
  local status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [[ $status -eq 0 ]]; then
    echo "fuzz_$target: ${runs:-?} runs in ${seconds} s, no finding" >"$work/$target.said"
  else
    { echo "fuzz_$target: FAILED after ${runs:-?} runs (log $log, inputs in $findings)"
      grep -m 5 -E 'fuzz check failed|ERROR|runtime error|SUMMARY' "$log"; } >"$work/$target.said"
    touch "$work/$target.failed"
  fi
}

for target in "$@"; do
  while (( $(jobs -rp | wc -l) >= jobs )); do wait -n; done
  fuzz "$target" &
done
wait

failed=()
for target in "$@"; do
  cat "$work/$target.said"
  [[ -e $work/$target.failed ]] && failed+=("$target")
done
[[ ${#failed[@]} -eq 0 ]] || { echo "failing fuzz targets: ${failed[*]}"; exit 1; }

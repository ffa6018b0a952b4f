#!/usr/bin/env bash
# The streaming detector on synthetic SDS archives: throughput against the
# in-memory tool of the commit before the engine, side by side in one run,
# and peak memory for 8 stations over 1 and 7 days and for 100 stations
# over a day; then the grouping of 10,000 channels with one event each and
# a synthetic day at a threshold low enough to make onsets everywhere.
#   bench/detect_archive.sh [BUILD_FOLDER]   (default: build)
#   RUNS=N          timed runs of each tool (default 5; medians are reported)
#   BASELINE=PATH   the previous onset-detect (default: built here from the
#                   commit before the engine, in a temporary worktree)
#   KEEP=DIR        keep the archives in DIR (written once, reused)
set -euo pipefail

build=${1:-build}
program=$(readlink -f "$build/tools/onset-detect/onset-detect")
runs=${RUNS:-5}
[[ -x $program ]] || { echo "no $program: build first (make build)" >&2; exit 1; }
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
archives=${KEEP:-$work/archives}
mkdir -p "$archives"

if [[ -z ${BASELINE:-} ]]; then
  engine_commit=$(git -C "$here" log --diff-filter=A --format=%H -- detect/onset_detect.map | tail -n 1)
  echo "building the previous tool from ${engine_commit:0:7}^"
  git -C "$here" worktree add -q --detach "$work/baseline" "$engine_commit^"
  cmake -S "$work/baseline" -B "$work/baseline/build" -DCMAKE_BUILD_TYPE=Release \
    -DONSET_BUILD_TESTS=OFF -DONSET_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$work/baseline/build" -j "$(nproc)" --target onset-detect >/dev/null
  BASELINE=$work/baseline/build/tools/onset-detect/onset-detect
  trap 'git -C "$here" worktree remove --force "$work/baseline"; rm -rf "$work"' EXIT
fi

archive() {  # stations days -> folder
  local folder=$archives/sds-$1x$2
  if [[ ! -d $folder ]]; then
    "$program" --write-synthetic "$folder" --synthetic-stations "$1" --synthetic-duration $(($2 * 86400)) >/dev/null
  fi
  echo "$folder"
}
# wall seconds and peak MiB of a command
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$work/out" 2>/dev/null
  read -r wall kilobytes <"$work/time"
  echo "$wall $((kilobytes / 1024))"
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

day8=$(archive 8 1)
files=$(find "$day8" -type f | sort)
samples=$((8 * 8640000))
echo "== throughput: 8 stations x 1 day at 100 Hz ($(du -sh "$day8" | cut -f1) of Steim-2), $runs runs each, alternating"
new=() old=()
for ((i = 1; i <= runs; i++)); do
  read -r wall mib < <(measure "$program" --quiet --sds "$day8"); new+=("$wall"); new_mib=$mib
  cp "$work/out" "$work/new-events"
  # shellcheck disable=SC2086 # one argument per file
  read -r wall mib < <(measure "$BASELINE" --quiet $files); old+=("$wall"); old_mib=$mib
  cp "$work/out" "$work/old-events"
done
new_median=$(printf '%s\n' "${new[@]}" | median)
old_median=$(printf '%s\n' "${old[@]}" | median)
awk -v n="$new_median" -v o="$old_median" -v s=$samples -v nm="$new_mib" -v om="$old_mib" 'BEGIN {
  printf "streaming engine: median %.2f s, %.1f M samples/s, peak %d MiB\n", n, s / n / 1e6, nm
  printf "previous tool:    median %.2f s, %.1f M samples/s, peak %d MiB\n", o, s / o / 1e6, om
  printf "ratio (previous / streaming): %.2fx\n", o / n }'
echo "runs (s): streaming ${new[*]}; previous ${old[*]}"
if cmp -s "$work/new-events" "$work/old-events"; then echo "the two tools print the same $(wc -l <"$work/new-events") events"
else echo "events: streaming $(wc -l <"$work/new-events"), previous $(wc -l <"$work/old-events") (they differ)"; fi

echo "== peak memory of the streaming engine"
for size in "8 1" "8 7" "100 1"; do
  read -r stations days <<<"$size"
  folder=$(archive "$stations" "$days")
  read -r wall mib < <(measure "$program" --quiet --sds "$folder")
  awk -v st="$stations" -v d="$days" -v w="$wall" -v m="$mib" 'BEGIN {
    printf "%3d stations x %d day(s): %6.1f s, %.1f M samples/s, peak %d MiB\n", st, d, w, st * d * 8640000 / w / 1e6, m }'
done

echo "== grouping memory"
"$(dirname "$program")/../../bench/detect_many_channels" 10000
echo "== a synthetic day at --threshold 0.5 (onsets everywhere)"
read -r wall mib < <(measure "$program" --demo --quiet --synthetic-duration 86400 --threshold 0.5)
echo "$wall s, peak $mib MiB; $(tail -n 1 "$work/out")"

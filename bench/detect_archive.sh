#!/usr/bin/env bash
# The streaming detector on synthetic SDS archives, side by side with an
# earlier onset-detect: CPU time on one thread for 8 stations x 1 day at
# 100 Hz (alternating runs, medians), 2 threads against 1, and peak memory
# for 8 stations over 1 and 7 days and for 100 stations over a day at the
# defaults; then the grouping of 10,000 channels with one event each and a
# synthetic day at a threshold low enough to make onsets everywhere.
#   bench/detect_archive.sh [BUILD_FOLDER]   (default: build)
#   RUNS=N          timed runs of each tool (default 5; medians are reported)
#   BASELINE=PATH   the earlier onset-detect to compare with
#   BASELINE_REF=R  or the commit to build it from, in a temporary worktree
#                   (default: the last commit before the engine's one-store
#                   data path and FFT band-pass)
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
  ref=${BASELINE_REF:-06d44126e09ca537eeb1db97a03bc992a3e50e8c}
  echo "building the earlier tool from $(git -C "$here" rev-parse --short "$ref")"
  git -C "$here" worktree add -q --detach "$work/baseline" "$ref"
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
# wall seconds, CPU seconds (user + system) and peak MiB of a command
measure() {
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >"$work/out" 2>/dev/null
  read -r wall user system kilobytes <"$work/time"
  echo "$wall $(awk -v u="$user" -v s="$system" 'BEGIN {print u + s}') $((kilobytes / 1024))"
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

day8=$(archive 8 1)
station_days=8
echo "== one thread: 8 stations x 1 day at 100 Hz ($(du -sh "$day8" | cut -f1) of Steim-2), $runs runs each, alternating"
new=() old=()
for ((i = 1; i <= runs; i++)); do
  read -r _ cpu mib < <(OMP_NUM_THREADS=1 measure "$program" --quiet --csv --sds "$day8"); new+=("$cpu"); new_mib=$mib
  cp "$work/out" "$work/new-events"
  read -r _ cpu mib < <(OMP_NUM_THREADS=1 measure "$BASELINE" --quiet --csv --sds "$day8"); old+=("$cpu"); old_mib=$mib
  cp "$work/out" "$work/old-events"
done
new_median=$(printf '%s\n' "${new[@]}" | median)
old_median=$(printf '%s\n' "${old[@]}" | median)
awk -v n="$new_median" -v o="$old_median" -v d=$station_days -v nm="$new_mib" -v om="$old_mib" 'BEGIN {
  printf "this tool:    median %.2f core-s, %.3f per station-day, peak %d MiB\n", n, n / d, nm
  printf "earlier tool: median %.2f core-s, %.3f per station-day, peak %d MiB\n", o, o / d, om
  printf "ratio (earlier / this): %.2fx\n", o / n }'
echo "runs (core-s): this ${new[*]}; earlier ${old[*]}"
if cmp -s "$work/new-events" "$work/old-events"; then echo "the two tools write the same $(($(wc -l <"$work/new-events") - 1)) picks"
else echo "picks: this $(($(wc -l <"$work/new-events") - 1)), earlier $(($(wc -l <"$work/old-events") - 1)) (they differ)"; fi

echo "== 2 threads against 1 (wall time, medians; $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg) before)"
one=() two=()
for ((i = 1; i <= runs; i++)); do
  read -r wall _ _ < <(OMP_NUM_THREADS=1 measure "$program" --quiet --sds "$day8"); one+=("$wall")
  read -r wall _ _ < <(OMP_NUM_THREADS=2 measure "$program" --quiet --sds "$day8"); two+=("$wall")
done
awk -v a="$(printf '%s\n' "${one[@]}" | median)" -v b="$(printf '%s\n' "${two[@]}" | median)" 'BEGIN {
  printf "1 thread %.2f s, 2 threads %.2f s: %.2fx\n", a, b, a / b }'

echo "== peak memory at the defaults"
for size in "8 1" "8 7" "100 1"; do
  read -r stations days <<<"$size"
  folder=$(archive "$stations" "$days")
  read -r wall cpu mib < <(measure "$program" --quiet --sds "$folder")
  read -r _ _ old_mib < <(measure "$BASELINE" --quiet --sds "$folder")
  awk -v st="$stations" -v d="$days" -v w="$wall" -v m="$mib" -v om="$old_mib" 'BEGIN {
    printf "%3d stations x %d day(s): %6.1f s, %.1f M samples/s, peak %d MiB (earlier tool %d MiB)\n", st, d, w, st * d * 8640000 / w / 1e6, m, om }'
done

echo "== grouping memory"
"$(dirname "$program")/../../bench/detect_many_channels" 10000
echo "== a synthetic day at --threshold 0.5 (onsets everywhere)"
read -r wall _ mib < <(measure "$program" --quiet --demo --synthetic-duration 86400 --threshold 0.5)
echo "$wall s, peak $mib MiB; $(tail -n 1 "$work/out")"

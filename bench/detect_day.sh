#!/usr/bin/env bash
# Times onset-detect on a day of 100 Hz data from 8 stations, read from
# miniSEED files written to a temporary folder, and shows where the time goes.
#   bench/detect_day.sh [BUILD_FOLDER]     (default: build)
#   RUNS=N        timed runs (default 3; the median is reported)
#   THREADS=N     OMP_NUM_THREADS for the runs (default: all cores)
set -euo pipefail

build=${1:-build}
program=$build/tools/onset-detect/onset-detect
runs=${RUNS:-3}
[[ -x $program ]] || { echo "no $program: build first (make build)" >&2; exit 1; }
[[ -n ${THREADS:-} ]] && export OMP_NUM_THREADS=$THREADS

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

echo "writing 8 stations x 86400 s at 100 Hz to $folder"
"$program" --write-synthetic "$folder" --synthetic-stations 8 --synthetic-duration 86400 >/dev/null
du -sh "$folder" | cut -f1 | sed 's/^/miniSEED size: /'

walls=()
for ((i = 1; i <= runs; i++)); do
  /usr/bin/time -f '%e %U %S %M' -o "$folder/time" \
    "$program" "$folder"/*.mseed >"$folder/events" 2>"$folder/stages"
  read -r wall user system kilobytes <"$folder/time"
  walls+=("$wall")
  echo "run $i: ${wall} s wall, ${user} s user, ${system} s system, $((kilobytes / 1024)) MiB peak"
  sed 's/^onset-detect: /    /' "$folder/stages"
done
median=$(printf '%s\n' "${walls[@]}" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')
echo "median wall time over $runs runs: $median s (threads: ${OMP_NUM_THREADS:-$(nproc)})"
echo "events found in the files: $(wc -l <"$folder/events")"
echo "the same network in memory, scored against its truth:"
"$program" --quiet --synthetic-stations 8 --synthetic-duration 86400 | tail -n 1 | sed 's/^/    /'

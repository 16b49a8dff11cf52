#!/usr/bin/env bash
# Times the full default statistical simulation (task 4, series type 8, 25 pulse counts x
# 29 noise levels x 100 repeats = 72 500 runs) as a whole command, with 1 and with 2 threads,
# and checks that both give the same cells. Run after ./run or a Release build:
#   bench/simulate_timing.sh [build/release/pulsebench-cli]
set -euo pipefail
cli=${1:-build/release/pulsebench-cli}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for threads in 1 2; do
  start=$(date +%s.%N)
  "$cli" simulate --threads "$threads" --csv "$dir/$threads.csv" >/dev/null 2>&1
  end=$(date +%s.%N)
  seconds[$threads]=$(echo "$end - $start" | bc)
  printf 'threads %d: %.1f s\n' "$threads" "${seconds[$threads]}"
done
printf 'speed-up from 1 to 2 threads: %.2f\n' "$(echo "${seconds[1]} / ${seconds[2]}" | bc -l)"
cmp -s "$dir/1.csv" "$dir/2.csv" && echo "cells identical" || { echo "cells differ"; exit 1; }

#!/usr/bin/env bash
# Times the full default statistical simulation grid (series type 8, 25 pulse counts x 29 noise
# levels x 100 repeats = 72 500 runs) as a whole command for task 4 (joint detection, the
# default) and task 2 (recognition), each with 1 and with 2 threads; prints the seconds, the
# speed-up from 1 to 2 threads, and checks that both thread counts give the same cells.
# Run after ./run or a Release build:
#   bench/simulate_timing.sh [build/release/pulsebench-cli] [tasks, default "4 2"]
set -euo pipefail
cli=${1:-build/release/pulsebench-cli}
tasks=${2:-4 2}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
status=0
for task in $tasks; do
  declare -A seconds=()
  for threads in 1 2; do
    start=$(date +%s.%N)
    "$cli" simulate --task "$task" --threads "$threads" --csv "$dir/$task-$threads.csv" >/dev/null 2>&1
    end=$(date +%s.%N)
    seconds[$threads]=$(echo "$end - $start" | bc)
    printf 'task %s, threads %d: %.1f s (%.3f ms per run)\n' "$task" "$threads" "${seconds[$threads]}" \
      "$(echo "${seconds[$threads]} * 1000 / 72500" | bc -l)"
  done
  printf 'task %s: speed-up from 1 to 2 threads: %.2fx\n' "$task" "$(echo "${seconds[1]} / ${seconds[2]}" | bc -l)"
  if cmp -s "$dir/$task-1.csv" "$dir/$task-2.csv"; then
    echo "task $task: cells identical"
  else
    echo "task $task: cells differ"
    status=1
  fi
  unset seconds
done
exit $status

#!/usr/bin/env bash
# Times the full default statistical simulation (72 500 runs) in one process and under mpirun
# with 1 and 2 ranks (one processing thread per rank, so that ranks stand for cores), checks that
# every run gives the same cells, and prints what the ranks report: the time spent reaching each
# rank's first cell and the imbalance of the shares. Run after a Release build with Open MPI:
#   bench/mpi_scaling.sh [build/release/pulsebench-cli] [extra simulate options...]
set -euo pipefail
cli=${1:-build/release/pulsebench-cli}
shift || true
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
launch=(mpirun --oversubscribe)
[ "$(id -u)" = 0 ] && launch+=(--allow-run-as-root)

seconds() { echo "$2 - $1" | bc; }
start=$(date +%s.%N)
"$cli" simulate --threads 1 --csv "$dir/one.csv" "$@" >/dev/null 2>&1
one=$(seconds "$start" "$(date +%s.%N)")
runs=$(($(wc -l <"$dir/one.csv") - 1))
printf 'one process, 1 thread: %.2f s\n' "$one"
for ranks in 1 2; do
  start=$(date +%s.%N)
  "${launch[@]}" -np "$ranks" "$cli" simulate --threads 1 --csv "$dir/$ranks.csv" "$@" >/dev/null 2>"$dir/$ranks.err"
  t=$(seconds "$start" "$(date +%s.%N)")
  printf '%d rank(s): %.2f s, speed-up %.2f; %s\n' "$ranks" "$t" "$(echo "$one / $t" | bc -l)" \
    "$(grep '^ranks:' "$dir/$ranks.err" || true)"
  cmp -s "$dir/one.csv" "$dir/$ranks.csv" || { echo "cells of $ranks rank(s) differ from one process"; exit 1; }
done
echo "cells identical ($runs cells)"

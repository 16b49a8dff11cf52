#!/usr/bin/env bash
# Times `detect --manifest` over a dataset of RECORDINGS noise recordings of 100 000 to 1 000 000
# samples (the workbench's twenty etalons the candidates, cut pulses allowed) in one process with
# 1 and with 2 threads and, when mpirun is there, on 2 ranks of one thread each; prints the
# seconds and the speed-ups, and checks that every run printed and wrote the same bytes.
# Run after ./run or a Release build:
#   bench/manifest_timing.sh [build/release/pulsebench-cli] [RECORDINGS, default 24]
set -euo pipefail
cli=${1:-build/release/pulsebench-cli}
count=${2:-12}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$cli" alphabet --json >"$dir/alphabet.json"
echo file >"$dir/list.csv"
for k in $(seq 1 "$count"); do
  awk -v seed="$k" -v n=$((100000 + (k * 7919) % 9 * 100000)) \
    'BEGIN { srand(seed); print "sample"; for (i = 0; i < n; i++) print int(rand() * 200 - 100) }' >"$dir/r$k.csv"
  echo "r$k.csv" >>"$dir/list.csv"
done
args=(detect --manifest "$dir/list.csv" --etalons "$dir/alphabet.json" --tmin 40 --tmax 181 --saved-energy 75
      --json --quiet)
time_run() {  # NAME, then the command: its seconds in seconds[NAME], its output in $dir/NAME.*
  local name=$1 start end
  shift
  start=$(date +%s.%N)
  "$@" --csv "$dir/$name.csv" >"$dir/$name.json" 2>"$dir/$name.err"
  end=$(date +%s.%N)
  seconds[$name]=$(echo "$end - $start" | bc)
  printf '%-10s %6.2f s\n' "$name" "${seconds[$name]}"
}
declare -A seconds=()
time_run threads1 "$cli" "${args[@]}" --threads 1
time_run threads2 "$cli" "${args[@]}" --threads 2
runs=(threads2)
if command -v mpirun >/dev/null; then
  launch=(mpirun -np 2 --oversubscribe)
  [ "$(id -u)" = 0 ] && launch+=(--allow-run-as-root)
  time_run ranks2 "${launch[@]}" "$cli" "${args[@]}" --threads 1
  runs+=(ranks2)
fi
status=0
for run in "${runs[@]}"; do
  printf '%s: speed-up over one thread %.2fx; ' "$run" "$(echo "${seconds[threads1]} / ${seconds[$run]}" | bc -l)"
  if cmp -s "$dir/threads1.json" "$dir/$run.json" && cmp -s "$dir/threads1.csv" "$dir/$run.csv"; then
    echo "output identical"
  else
    echo "output differs"
    status=1
  fi
done
echo "$(grep -o '[0-9]* pulses found' "$dir/threads1.err") in $count recordings"
exit $status

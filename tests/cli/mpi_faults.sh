#!/usr/bin/env bash
# Faults of an mpirun job of `pulsebench-cli simulate`: usage mpi_faults.sh MPIRUN CLI WORKDIR CASE.
#   refusal    refused parameters: one message (from rank 0), non-zero exit
#   rank-signal one rank is sent SIGTERM: the job ends with one message naming it, non-zero
#               exit, no output file under its name nor a temporary one
#   interrupt  Ctrl-C (SIGINT to mpirun): every rank stops, non-zero exit, no output file
#   manifest-rank-signal, manifest-interrupt  the same two for `detect --manifest` over a long
#               list of recordings
#   manifest-disagree  ranks that see other files under the manifest's names (rank 0 and rank 1
#               in other folders) would share its rows differently: one message, no output
# Exits 77 (skipped) when mpirun is absent.
set -u
mpirun=$1 cli=$2 work=$3 case=$4
if [ -z "$mpirun" ] || [ ! -x "$mpirun" ]; then
  echo "SKIPPED: mpirun not found; the MPI tests need Open MPI (scripts/ensure-deps installs it)"
  exit 77
fi
launch=("$mpirun" -np 2 --oversubscribe)
[ "$(id -u)" = 0 ] && launch+=(--allow-run-as-root)
rm -rf "$work" && mkdir -p "$work" || exit 1
# Open MPI's plug-ins keep memory to the end and are unloaded before the leak check can name
# them: the ranks run without it, every other check of the sanitizers stays on.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
csv=$work/out.csv
fail() { echo "FAILED: $*"; echo "--- standard error:"; cat "$work/err"; exit 1; }
count() { grep -c -- "$1" "$work/err"; }
# The command a case runs: the default simulation grid, or a manifest of sixty copies of one
# recording of 200 000 samples, both far longer than the few seconds before the fault.
run=("$cli" simulate --csv "$csv")
stopped='The simulation was stopped by signal 15'
case $case in
  manifest-disagree) case=disagree ;;
  manifest-*)
    awk 'BEGIN { srand(1); print "sample"; for (i = 0; i < 200000; i++) print int(rand() * 200 - 100) }' \
      >"$work/noise.csv"
    { echo file; for _ in $(seq 1 60); do echo noise.csv; done; } >"$work/list.csv"
    "$cli" alphabet --json >"$work/alphabet.json"
    run=("$cli" detect --manifest "$work/list.csv" --etalons "$work/alphabet.json" --tmin 40 --tmax 181 --json
         --csv "$csv")
    stopped='The detection was stopped by signal 15'
    case=${case#manifest-}
    inputs='^(err|noise.csv|list.csv|alphabet.json)$'
    ;;
esac
no_output() {
  [ ! -e "$csv" ] || fail "an output file was left: $csv"
  [ -z "$(ls -A "$work" | grep -Ev "${inputs:-^err$}")" ] || fail "files left behind: $(ls -A "$work")"
}

case $case in
  refusal)
    "${launch[@]}" "$cli" simulate --pulses 9:6:1 --csv "$csv" 2>"$work/err" >/dev/null
    rc=$?
    [ $rc -ne 0 ] || fail "exit status 0"
    [ "$(count 'The grid is empty')" = 1 ] || fail "expected the refusal once"
    no_output
    ;;
  rank-signal)
    # Rank 1 receives SIGTERM four seconds in, while the run lasts far longer.
    "${launch[@]}" sh -c 'if [ "$OMPI_COMM_WORLD_RANK" = 1 ]; then (sleep 4; kill -TERM $$) & fi; exec "$0" "$@"' \
      "${run[@]}" 2>"$work/err" >/dev/null
    rc=$?
    [ $rc -ne 0 ] || fail "exit status 0"
    [ "$(count "Rank 1 of 2: $stopped")" = 1 ] || fail "expected one message naming rank 1"
    [ "$(count 'stopped by signal')" = 1 ] || fail "expected exactly one stop message"
    no_output
    ;;
  interrupt)
    "${launch[@]}" "${run[@]}" 2>"$work/err" >/dev/null &
    job=$!
    sleep 3
    kill -INT $job
    for _ in $(seq 1 300); do kill -0 $job 2>/dev/null || break; sleep 0.1; done
    kill -0 $job 2>/dev/null && fail "mpirun still runs 30 s after Ctrl-C"
    wait $job
    rc=$?
    [ $rc -ne 0 ] || fail "exit status 0"
    pgrep -f -- "--csv $csv" >/dev/null && fail "a rank outlived the job"
    no_output
    ;;
  disagree)
    # The same names, the sizes swapped: each rank takes the other's largest row to be its own.
    mkdir -p "$work/a" "$work/b" && "$cli" alphabet --json >"$work/alphabet.json" || exit 1
    for side in a:600:2400 b:2400:600; do
      IFS=: read -r folder x y <<<"$side"
      "$cli" series --length "$x" --csv "$work/$folder/x.csv" && "$cli" series --length "$y" --csv "$work/$folder/y.csv" || exit 1
      printf 'file\nx.csv\ny.csv\n' >"$work/$folder/list.csv"
    done
    "${launch[@]}" sh -c 'cd "$0/$([ "$OMPI_COMM_WORLD_RANK" = 0 ] && echo a || echo b)" && exec "$@"' "$work" \
      "$cli" detect --manifest list.csv --etalons ../alphabet.json --tmin 40 --tmax 181 --csv "$csv" 2>"$work/err" >/dev/null
    rc=$?
    [ $rc -ne 0 ] || fail "exit status 0"
    [ "$(count 'shared the manifest.s rows differently')" = 1 ] || fail "expected the message once"
    inputs='^(err|a|b|alphabet.json)$'
    no_output
    ;;
  *) echo "unknown case $case"; exit 2 ;;
esac
echo "ok: $case (exit status $rc)"

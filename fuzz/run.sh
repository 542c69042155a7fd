#!/bin/sh
# Runs the libFuzzer targets of the fuzz preset's build, each for SECONDS
# (default 60), on a scratch copy of its committed seeds; new inputs go to
# the scratch directory, crashes to build/fuzz/artifacts/. Fails on the
# first crash, leak, sanitizer report or timeout.
#   cmake --preset fuzz && cmake --build --preset fuzz
#   sh fuzz/run.sh [SECONDS] [TARGET...]      e.g. sh fuzz/run.sh 600 fuzz_segment
#   sh fuzz/run.sh ci                          what CI runs: a fixed seed and a fixed
#                                              number of inputs per target (about half a
#                                              minute each), so a run is repeatable
#                                              and a new finding shows up here first
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/fuzz/fuzz"
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-$(cd "$bin" && ls | grep '^fuzz_' | grep -v '\.')}
mkdir -p "$root/build/fuzz/artifacts"
for t in $targets; do
  work=$(mktemp -d)
  echo "== $t: $seconds"
  if [ "$seconds" = ci ]; then
    case $t in
      fuzz_extract) budget="-runs=1500" ;;
      fuzz_segment) budget="-runs=25000" ;;
      fuzz_params) budget="-runs=150000" ;;
      fuzz_auto) budget="-runs=4000" ;;  # every input runs the whole road twice
      *) budget="-runs=250000" ;;
    esac
    budget="$budget -seed=1"
  else
    budget="-max_total_time=$seconds"
  fi
  # shellcheck disable=SC2086
  "$bin/$t" $budget -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$root/build/fuzz/artifacts/$t-" "$work" "$root/fuzz/corpus/$t" 2>&1 |
    grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|.*Test unit written)' || true
  # grep hides the fuzzer's exit status: a written artifact is the failure.
  if ls "$root/build/fuzz/artifacts/$t-"* >/dev/null 2>&1; then
    echo "$t: failing input kept in build/fuzz/artifacts/" >&2
    rm -rf "$work"
    exit 1
  fi
  rm -rf "$work"
done

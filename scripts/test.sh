#!/bin/sh
# Builds and runs every test three times: an optimised build, a GCC build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a clang build
# under both sanitizers (clang's sees conversions GCC's does not), which
# also builds the libFuzzer targets and runs each on a fixed number of
# inputs (under a minute each; KOC_FUZZ_SECONDS=N runs N seconds instead).
# The optimised build also builds the Python module and runs its pytest
# suite with Debian's /usr/bin/python3 (ctest -L python).
set -eu
cd "$(dirname "$0")/.."
sh scripts/deps.sh
# Installed above: the HTML-report test must render, not skip.
export KOC_REQUIRE_CHROMIUM=1
# Tests run in parallel, one per core: none shares files or depends on timing.
jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)
phase() { echo "== $1 done after $(( $(date +%s) - start )) s"; }
for preset in release sanitize fuzz; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  phase "$preset build"
  ctest --preset "$preset" -j "$jobs"
  phase "$preset tests"
done
sh fuzz/run.sh "${KOC_FUZZ_SECONDS:-ci}"
phase "fuzzing"

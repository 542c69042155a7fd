#!/bin/sh
# Builds and runs every test three times: an optimised build, a GCC build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a clang build
# under both sanitizers (clang's sees conversions GCC's does not), which
# also builds the libFuzzer targets and runs each on a fixed number of
# inputs (about a minute each; KOC_FUZZ_SECONDS=N runs N seconds instead).
# The optimised build also builds the Python module and runs its pytest
# suite with Debian's /usr/bin/python3 (ctest -L python).
set -eu
cd "$(dirname "$0")/.."
sh scripts/deps.sh
# Installed above: the HTML-report test must render, not skip.
export KOC_REQUIRE_CHROMIUM=1
for preset in release sanitize fuzz; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
sh fuzz/run.sh "${KOC_FUZZ_SECONDS:-ci}"

#!/bin/sh
# Builds the library and the command-line tool, then runs the main job:
# koc-segment on its embedded sample (extra arguments go to the tool).
set -eu
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/tools/koc-segment "$@"

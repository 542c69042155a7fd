#!/bin/sh
# Builds the library and runs the main job: koc-segment on its embedded
# sample. The command-line tool is not part of this tree yet; until it is,
# this builds the library and says so.
set -eu
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
if [ -x build/release/tools/koc-segment ]; then
  exec build/release/tools/koc-segment "$@"
fi
echo "libkoc built in build/release; the koc-segment command-line tool is not built yet."

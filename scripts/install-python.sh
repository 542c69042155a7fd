#!/bin/sh
# Builds the Python module koc and installs it for Debian's /usr/bin/python3
# (into its directory for local modules, /usr/local/lib/python3.X/dist-packages),
# offline once the Debian packages are there. Afterwards:
#   /usr/bin/python3 -c "import koc; print(koc.segment(koc.sample()))"
set -eu
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake --preset release
cmake --build --preset release --target koc_python
cmake --install build/release --component python

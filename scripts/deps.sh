#!/bin/sh
# Installs the Debian packages the build, the tests and the tools need, when
# they are missing (chromium: the test that renders koc-segment's HTML
# report). Uses sudo when not run as root. The Python module is built for
# and tested with Debian's /usr/bin/python3 (python3-dev, pybind11-dev,
# python3-numpy, python3-pytest) and no other interpreter.
set -eu
packages="g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libpng-dev libjpeg62-turbo-dev libtiff-dev nlohmann-json3-dev libcli11-dev libfreetype-dev fonts-dejavu-core python3
          clang libclang-rt-14-dev chromium python3-dev pybind11-dev python3-numpy python3-pytest"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
echo "installing:$missing"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
# shellcheck disable=SC2086
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing

#!/bin/sh
# Compares the names the shared library exports with the committed list.
# Usage: check-exports.sh LIBRARY LIST        (check)
#        check-exports.sh LIBRARY LIST --update (rewrite the list)
set -eu
lib=$1 list=$2
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | grep -v '^_' | LC_ALL=C sort -u)
if [ "${3:-}" = "--update" ]; then
  printf '%s\n' "$actual" > "$list"
  echo "wrote $(wc -l < "$list") names to $list"
  exit 0
fi
# Nothing mangled or outside the library's prefixes may leave the binary.
# (Names starting with an underscore belong to the toolchain, e.g. sanitizer
# bookkeeping for exported variables.)
stray=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | grep -v '^_' | grep -vE '^(koc_|kstd_|kmath_|kshape_|kimg_|k3img_|kip_|k3ip_|ksys_|kprt_|karca_|kgr_)' || true)
if [ -n "$stray" ]; then
  echo "unexpected exported names:"; printf '%s\n' "$stray" | head -n 20
  exit 1
fi
if ! printf '%s\n' "$actual" | diff -u "$list" - ; then
  echo "exported names differ from $list; if intended, run: $0 $lib $list --update"
  exit 1
fi
echo "$(printf '%s\n' "$actual" | wc -l) exported names match"

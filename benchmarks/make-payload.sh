#!/bin/bash
# Writes SIZE pseudo-random bytes to FILE, the same bytes every time (no compression or
# sparse file can shortcut writing them).
set -euo pipefail
file=$1
size=$2
openssl enc -aes-128-ctr -nosalt -pass pass:plomstub-benchmark -pbkdf2 </dev/zero 2>/dev/null \
    | head -c "$size" >"$file.tmp" || true
[ "$(stat -c %s "$file.tmp")" = "$size" ] || { echo "make-payload: short payload" >&2; exit 1; }
mv "$file.tmp" "$file"

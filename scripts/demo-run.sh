#!/bin/bash
# Runs the demonstration programs of an existing build.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
for arch in x86_64; do
    demo="$root/build/$arch/tests/demo/kelp_demo.exe"
    if [ -f "$demo" ]; then
        echo "== runtime demonstration ($arch)"
        "$root/scripts/wine-run" "$demo"
    fi
done

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
if [ -f "$root/build/x86_64/tests/install/bundles/files.exe" ]; then
    echo "== installation demonstration (x86_64)"
    "$root/scripts/demo-install.sh"
fi

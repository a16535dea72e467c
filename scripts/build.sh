#!/bin/bash
# Sets up the machine, then configures and builds the host tools and both Windows builds.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
cd "$root"
"$root/scripts/setup.sh"
jobs=$(nproc)
for preset in host x86_64 i686; do
    cmake --preset "$preset" -DPLOM_HOST_BUILD="$root/build/host" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
done

#!/bin/bash
# The main job: builds everything, then runs the demonstration under wine.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
. "$root/scripts/wine-env.sh"
"$root/scripts/build.sh"
exec "$root/scripts/demo-run.sh"

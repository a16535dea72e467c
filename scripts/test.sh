#!/bin/bash
# The whole test suite: set-up, build, the x86_64 suite under wine64 and the i686
# acceptance set under the emulated 32-bit loader, then a short fuzzing run of the portable
# runtime (PLOM_FUZZ_RUNS executions per target). Extra arguments go to ctest.
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
. "$root/scripts/wine-env.sh"
"$root/scripts/build.sh"
cd "$root"
# One wine server for the whole run keeps each process start short. It stays for five
# minutes after the last wine process ends, then goes by itself (an emulated 32-bit process
# takes more than a minute to reach it, and a server that left in between would boot the
# prefix's services again for every such process); one that already runs (exit code 2)
# serves as well, and is not stopped, since other work may be using it.
/usr/lib/wine/wineserver -p300 || [ $? = 2 ]
status=0
ctest --preset x86_64 -j2 "$@" || status=1
# A 32-bit test that fails is run up to three times more: the emulator sometimes stalls or
# crashes a process for reasons of its own (docs/platform-notes.md); a real fault fails
# every time.
ctest --preset i686 --repeat until-pass:4 "$@" || status=1
# The portable runtime under the fuzzers, with a small budget per target.
"$root/scripts/fuzz.sh" "${PLOM_FUZZ_RUNS:-20000}" || status=1
exit $status

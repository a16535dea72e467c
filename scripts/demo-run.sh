#!/bin/bash
# Runs the demonstration on an existing x86_64 build: the stub's version and help texts,
# an extract-only run of the sample bundle, then a full silent installation.
set -uo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
. "$root/scripts/wine-env.sh"
build="$root/build/x86_64"
stub="$build/Installer/win/Stub/PlomStub.exe"
bundle="$build/tests/install/bundles/files.exe"
if [ ! -f "$stub" ] || [ ! -f "$bundle" ]; then
    echo "demo: no stub or sample bundle in $build (run scripts/build.sh first)" >&2
    exit 1
fi
/usr/lib/wine/wineserver -p60 2>/dev/null
echo "== PlomStub.exe --silent --version"
"$PLOM_WINE64" "$stub" --silent --version
echo "exit code: $?"
echo "== PlomStub.exe --silent --help (first lines)"
"$PLOM_WINE64" "$stub" --silent --help 2>&1 | head -12
echo "== PlomStub.exe --silent --no-such-option"
"$PLOM_WINE64" "$stub" --silent --no-such-option
echo "exit code: $?"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out="$work/extracted"
mkdir -p "$out"
echo "== sample bundle --silent --extract --path <dir>"
"$PLOM_WINE64" "$bundle" --silent --extract --path "$("$PLOM_WINE64" winepath -w "$out" 2>/dev/null)"
echo "exit code: $?"
(cd "$out" && find . -type f -printf '  %P (%s bytes)\n' | sort)

"$root/scripts/demo-install.sh"

#!/bin/bash
# Demonstration of a full installation: the x86_64 build's bundle of the sample package
# runs silently under wine; then what it installed (files, product registration,
# certificate thumbprints) is shown, and the product is removed again.
set -uo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
. "$root/scripts/wine-env.sh"
build="$root/build/x86_64"
bundle="$build/tests/install/bundles/files.exe"
header="$build/tests/packages/include/plom_test_packages.h"
if [ ! -f "$bundle" ] || [ ! -f "$header" ]; then
    echo "demo-install: no sample bundle in $build (build the x86_64 preset first)" >&2
    exit 1
fi
define() { sed -n "s/^#define $1 L\"\(.*\)\"$/\1/p" "$header"; }
product=$(define PLOM_TEST_MSI_FILES_PRODUCT_CODE)
dirname=$(define PLOM_TEST_MSI_FILES_DIR)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$bundle" "$work/PlomDemoSetup.exe"

echo "== silent installation: PlomDemoSetup.exe --silent"
(cd "$work" && "$PLOM_WINE64" PlomDemoSetup.exe --silent)
rc=$?
echo "exit code: $rc"

echo "== installed files"
pf=$("$PLOM_WINE64" winepath -u 'C:\Program Files (x86)' 2>/dev/null)
(cd "$pf/$dirname" 2>/dev/null && find . -type f | sort | sed 's|^\./|  |') || echo "  (none)"
echo "== product registration"
if "$PLOM_WINE64" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" /reg:32 >/dev/null 2>&1 ||
   "$PLOM_WINE64" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" >/dev/null 2>&1; then
    echo "  $product is registered"
else
    echo "  $product is not registered"
fi
echo "== certificates (SHA-1 thumbprints)"
for store in TrustedPublisher Root; do
    for cert in PUBLISHER1 PUBLISHER2 TIMESTAMP_CA; do
        sha1=$(define "PLOM_CERT_${cert}_SHA1")
        if "$PLOM_WINE64" reg query "HKLM\\Software\\Microsoft\\SystemCertificates\\$store\\Certificates\\$sha1" >/dev/null 2>&1; then
            echo "  $store: $sha1 ($cert)"
        fi
    done
done

"$PLOM_WINE64" msiexec /x "$product" /qn >/dev/null 2>&1
exit $rc

#!/bin/sh
# Fails when an executable imports a DLL outside the allowed list (case-insensitive).
# usage: check-imports.sh OBJDUMP EXE ALLOWED-DLL...
objdump=$1; exe=$2; shift 2
allowed=$(printf '%s\n' "$@" | tr 'A-Z' 'a-z')
bad=0
for dll in $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    if ! printf '%s\n' "$allowed" | grep -qx "$dll"; then
        echo "error: $exe imports $dll, which is not allowed" >&2
        bad=1
    fi
done
exit $bad

#!/bin/sh
# Fails when an executable imports a DLL outside the allowed list (case-insensitive).
# An entry "delay:NAME" is a DLL that may only be delay-loaded: it must not be in the import
# table, and the program must carry its delay-import descriptor (the DLL's name). objdump
# does not list delay imports, and GNU ld leaves their data directory entry empty.
# usage: check-imports.sh OBJDUMP EXE ALLOWED-DLL... [delay:DLL...]
objdump=$1; exe=$2; shift 2
allowed=
delayed=
for a in "$@"; do
    case $a in
        delay:*) delayed="$delayed ${a#delay:}" ;;
        *) allowed="$allowed
$a" ;;
    esac
done
allowed=$(printf '%s\n' "$allowed" | tr 'A-Z' 'a-z')
bad=0
for dll in $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    if ! printf '%s\n' "$allowed" | grep -qx "$dll"; then
        echo "error: $exe imports $dll, which is not allowed" >&2
        bad=1
    fi
done
for dll in $delayed; do
    if ! LC_ALL=C grep -aqi "$dll" "$exe"; then
        echo "error: $exe has no delay import of $dll" >&2
        bad=1
    fi
done
exit $bad

#!/bin/bash
# Installs and configures everything the build and the tests need on a fresh machine:
# the two mingw-w64 cross compilers, wine with its 32-bit loader (through qemu user
# emulation where the kernel cannot run 32-bit binaries), the package tools, and the wine
# prefix. Idempotent: quick when everything is already in place.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
. "$here/wine-env.sh"

packages=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine wine64 wine32:i386 qemu-user-static wixl msitools
          gcab osslsigncode openssl googletest clang libclang-rt-14-dev nsis)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    SUDO=; [ "$(id -u)" = 0 ] || SUDO=sudo
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# wine's 32-bit loader is a 32-bit Linux program; where the kernel cannot execute it,
# qemu's user-mode emulation is registered for 32-bit x86 ELF files.
if ! "$PLOM_WINE32" --version >/dev/null 2>&1; then
    SUDO=; [ "$(id -u)" = 0 ] || SUDO=sudo
    [ -d /proc/sys/fs/binfmt_misc ] && [ -e /proc/sys/fs/binfmt_misc/register ] || \
        $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FPC' \
            | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
    fi
    "$PLOM_WINE32" --version >/dev/null 2>&1 || { echo "setup: wine's 32-bit loader cannot run" >&2; exit 1; }
fi

# The prefix: made once per machine (a few minutes, most of it filling the WoW64 part
# through the emulated 32-bit loader), then reused.
if [ ! -f "$WINEPREFIX/.plom-ready" ]; then
    echo "setup: creating the wine prefix in $WINEPREFIX (takes a few minutes once)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$PLOM_WINE64" wineboot -i >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "setup: wineboot did not create the prefix" >&2; exit 1; }
    [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || { echo "setup: the prefix has no WoW64 part" >&2; exit 1; }
    touch "$WINEPREFIX/.plom-ready"
fi

# A crashing test program must not start wine's debugger: under the emulated 32-bit
# loader it runs for minutes. An empty debugger command lets the crash end the process.
if [ ! -f "$WINEPREFIX/.plom-no-debugger" ]; then
    aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
    "$PLOM_WINE64" reg add "$aedebug" /v Debugger /t REG_SZ /d "" /f >/dev/null 2>&1 || true
    "$PLOM_WINE64" reg add "$aedebug" /v Debugger /t REG_SZ /d "" /f /reg:32 >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.plom-no-debugger"
fi

#!/bin/bash
# Builds what the benchmarks need and prints their table:
#  - extraction: the bundled stub (a full run with a .cab package, and --extract) against
#    the minimal extraction program and an NSIS installer writing the same bytes, each a
#    whole process under wine64, runs alternating, medians and ratios;
#  - start-up: the stub's --silent --version against a program that only exits;
#  - sizes: the stub executables beside the smallest NSIS stub (and, when the stub is the
#    larger, which sections and object files take the space);
#  - the formatter: RTFmtBuffer against the C run-time's snprintf (its own table).
# Rows whose programs do not exist yet say "not built".
#   scripts/bench.sh [runs]    (default 5 runs per row)
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
runs=${1:-5}
cd "$root"
. "$root/scripts/wine-env.sh"
"$root/scripts/setup.sh"

work="$root/build/bench"
mkdir -p "$work"
log="$work/build.log"
: >"$log"

# Windows form of an absolute Linux path (drive Z: is the Linux root).
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# (grep reads all of it: an early exit would fail the pipeline.)
has_target() { cmake --build "$1" --target help 2>/dev/null | grep -E "^\.\.\. $2( |$)" >/dev/null; }

echo "bench: building (details in $log)"
for preset in x86_64 i686 host; do
    cmake --preset "$preset" -DPLOM_HOST_BUILD="$root/build/host" >>"$log" 2>&1
done
jobs=$(nproc)
cmake --build build/x86_64 -j"$jobs" --target bench_exit bench_format bench_extract_ref >>"$log" 2>&1
for arch in x86_64 i686; do
    if has_target "build/$arch" PlomStub; then
        cmake --build "build/$arch" -j"$jobs" --target PlomStub >>"$log" 2>&1 || true
    fi
done
bundler=
if has_target build/host PlomBundle; then
    cmake --build build/host -j"$jobs" --target PlomBundle >>"$log" 2>&1 || true
    bundler=$(find build/host -name PlomBundle -type f -perm -u+x | head -1)
fi

bench=build/x86_64/benchmarks
payload="$root/$bench/payload.bin"
# PLOM_BENCH_STUB names another x86_64 stub to time (a build of another tree).
stub64=${PLOM_BENCH_STUB:-build/x86_64/Installer/win/Stub/PlomStub.exe}

# The NSIS reference: no compression, silent, 64-bit, writing the payload under the same
# name the stub uses.
nsis_exe="$work/nsis-bench.exe"
nsis_out="$work/nsis-out"
if [ ! -f "$nsis_exe" ] || [ "$nsis_exe" -ot "$payload" ]; then
    cat >"$work/bench.nsi" <<EOF
Unicode true
Target amd64-unicode
SetCompress off
SilentInstall silent
RequestExecutionLevel user
OutFile "$nsis_exe"
Section
  SetOutPath "$(winpath "$nsis_out")"
  File "/oname=payload.cab" "$payload"
SectionEnd
EOF
    makensis -V2 "$work/bench.nsi" >>"$log" 2>&1
fi

# The stub with the payload as its one .cab package.
stub_bundle=
if [ -n "$bundler" ] && [ -f "$stub64" ]; then
    stub_bundle="$work/stub-bench.exe"
    if [ ! -f "$stub_bundle" ] || [ "$stub_bundle" -ot "$stub64" ] || [ "$stub_bundle" -ot "$payload" ] \
        || [ "$stub_bundle" -ot "$bundler" ]; then
        "$bundler" --stub "$stub64" --output "$stub_bundle" \
            --package "$payload" --arch any --name payload.cab >>"$log" 2>&1 || stub_bundle=
    fi
fi

# A prefix of its own (a copy of the shared one, made once) gives the runs their own wine
# server: other test runs on this machine then neither hold the stub's single-instance
# mutex nor share the server's work. The server stays up while the runs follow each
# other and ends by itself 10 s after the last one.
bench_prefix="$work/wineprefix"
if [ ! -f "$bench_prefix/.plom-ready" ]; then
    echo "bench: copying the wine prefix for the benchmark runs (once)"
    rm -rf "$bench_prefix" "$bench_prefix.tmp"
    cp -a "$WINEPREFIX" "$bench_prefix.tmp"
    mv "$bench_prefix.tmp" "$bench_prefix"
fi
export WINEPREFIX="$bench_prefix"
/usr/lib/wine/wineserver -p10 || [ $? = 2 ]
export KELP_TMPDIR
KELP_TMPDIR=$(winpath "$work/stub-tmp")

# Row table: name, command, and what to clear after each run (not timed).
declare -a names cmds cleans
add_row() { names+=("$1"); cmds+=("$2"); cleans+=("$3"); }

ref_file="$work/ref-out/payload.cab"
add_row "minimal extraction program" \
    "$PLOM_WINE64 $bench/bench_extract_ref.exe '$(winpath "$ref_file")'" "rm -rf '$work/ref-out'; mkdir -p '$work/ref-out'"
add_row "NSIS installer (no compression)" "$PLOM_WINE64 '$nsis_exe' /S" "rm -rf '$nsis_out'"
if [ -n "$stub_bundle" ]; then
    add_row "PlomStub --silent (full run, .cab)" "$PLOM_WINE64 '$stub_bundle' --silent" \
        "rm -rf '$work/stub-tmp'; mkdir -p '$work/stub-tmp'"
    # The same run without the certificate step: wine's crypt32 reads the host's whole CA
    # bundle into its Root store the first time a process opens a system store, work that
    # Windows does not do.
    add_row "PlomStub --silent, no certificates" \
        "$PLOM_WINE64 '$stub_bundle' --silent --no-silent-cert --no-install-timestamp-ca" \
        "rm -rf '$work/stub-tmp'; mkdir -p '$work/stub-tmp'"
    add_row "PlomStub --silent --extract" \
        "$PLOM_WINE64 '$stub_bundle' --silent --extract --path '$(winpath "$work/stub-extract")'" \
        "rm -rf '$work/stub-extract'"
fi
extraction_rows=${#names[@]}
add_row "program that only exits" "$PLOM_WINE64 $bench/bench_exit.exe" ":"
if [ -f "$stub64" ]; then
    add_row "PlomStub --silent --version" "$PLOM_WINE64 '$stub64' --silent --version" ":"
fi

# Alternating runs: every row once per round, so that drifts of the machine hit all rows.
# A failed run is not a sample: it is repeated (the stub's single-instance mutex lives in
# the wine server, which other test runs on this machine may share), at most 5 times.
declare -A samples failures retries
for ((r = 0; r < runs; r++)); do
    for ((i = 0; i < ${#names[@]}; i++)); do
        for ((attempt = 0; attempt < 5; attempt++)); do
            eval "${cleans[$i]}"
            start=$(date +%s%N)
            set +e
            eval "${cmds[$i]}" >/dev/null 2>"$work/row$i.err"
            rc=$?
            set -e
            end=$(date +%s%N)
            [ $rc -ne 0 ] || break
            retries[$i]=$(( ${retries[$i]:-0} + 1 ))
            sleep 1
        done
        if [ $rc -eq 0 ]; then
            samples[$i]+="$(( (end - start) / 1000 )) "
        else
            failures[$i]="exit $rc: $(head -c 200 "$work/row$i.err" | tr '\n' ' ')"
        fi
    done
done
for ((i = 0; i < ${#names[@]}; i++)); do eval "${cleans[$i]}"; done
rm -rf "$work/ref-out" "$work/stub-tmp" "$work/stub-extract" "$nsis_out"

median() { tr ' ' '\n' | grep . | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
declare -a med
for ((i = 0; i < ${#names[@]}; i++)); do med[$i]=$(echo "${samples[$i]:-0}" | median); done
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0 && b > 0) printf "%.3f", a / b; else printf "-" }'; }

row() {
    local i=$1 refIndex=$2 label=${3:-}
    local name=${names[$i]} m=${med[$i]}
    local r="-"
    [ "$refIndex" -lt 0 ] || r=$(ratio "$m" "${med[$refIndex]}")
    local note=${failures[$i]:-}
    local again=${retries[$i]:-0}
    [ "$again" -eq 0 ] || label+=" [$again failed runs repeated]"
    printf '  %-38s %10s %10s  %s\n' "$name" "$(ms "$m")" "$r" "${note:+FAILED ($note) }$label"
}
missing() { printf '  %-38s %10s\n' "$1" "not built"; }

echo
echo "Process times under wine64, median of $runs alternating runs (payload $(stat -c %s "$payload") bytes)"
printf '  %-38s %10s %10s\n' "extraction" "ms" "ratio"
row 0 -1 "  (reference)"
row 1 0 "  (to the minimal program)"
if [ -n "$stub_bundle" ]; then
    row 2 0 "  (to the minimal program; target <= 1.10)"
    printf '  %-38s %10s %10s  %s\n' "" "" "$(ratio "${med[2]}" "${med[1]}")" "(full run to NSIS; target < 1)"
    row 3 0 "  (to the minimal program)"
    printf '  %-38s %10s %10s  %s\n' "" "" "$(ratio "${med[3]}" "${med[1]}")" "(to NSIS)"
    row 4 0 "  (to the minimal program)"
else
    missing "PlomStub --silent (full run, .cab)"
    missing "PlomStub --silent, no certificates"
    missing "PlomStub --silent --extract"
fi
printf '  %-38s %10s %10s\n' "start-up" "ms" "ratio"
row "$extraction_rows" -1 "  (reference)"
if [ -f "$stub64" ]; then
    row $((extraction_rows + 1)) "$extraction_rows" "  (to the program that only exits)"
else
    missing "PlomStub --silent --version"
fi

echo
echo "Sizes in bytes"
nsis_min=$(ls -S /usr/share/nsis/Stubs/*-* 2>/dev/null | tail -1)
nsis_bytes=$(stat -c %s "$nsis_min")
printf '  %-38s %10s\n' "smallest NSIS stub ($(basename "$nsis_min"))" "$nsis_bytes"
printf '  %-38s %10s\n' "program that only exits (x86_64)" "$(stat -c %s $bench/bench_exit.exe)"

# Hexadecimal numbers (with or without 0x) for any awk.
awk_hex='function hex(s,   i, n, c) { sub(/^0x/, "", s); n = 0; for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", tolower(substr(s, i, 1))); n = n * 16 + c - 1 } return n }'

# Sections of an executable, and the object files behind them from a link map made by
# linking it once more with the same command.
breakdown() {
    local arch=$1 exe=$2 objdump=$3 target=$4
    echo "    sections:"
    "$objdump" -h "$exe" | awk "$awk_hex"' $1 ~ /^[0-9]+$/ { printf "      %-10s %10d\n", $2, hex($3) }'
    local dir link
    dir=$(readlink -f "$(dirname "$exe")")
    link="$dir/CMakeFiles/$target.dir/link.txt"
    [ -f "$link" ] || return 0
    local map="$work/$target-$arch.map"
    (cd "$dir" && eval "$(grep -- "-o $target.exe" "$link" \
        | sed "s| -o $target.exe | -o $work/$target-$arch-map.exe |") -Wl,-Map=$map") >>"$log" 2>&1 || return 0
    echo "    largest contributions by object file (file sections, without .bss):"
    awk "$awk_hex"'
        /^Linker script and memory map/ { on = 1; next }
        !on { next }
        # Output sections start in the first column; .bss takes no room in the file.
        /^\.[^ ]+/ { bss = ($1 == ".bss"); pending = 0; next }
        bss { next }
        /^ \.[^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add($3, $4); next }
        /^ \.[^ ]+$/ { pending = 1; next }
        pending && /^ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add($2, $3); pending = 0; next }
        { pending = 0 }
        function add(size, file,   n) { n = hex(size); if (n > 0) sum[file] += n }
        END { for (f in sum) printf "%d %s\n", sum[f], f }' "$map" \
        | sort -rn | head -12 | awk '{ n = split($2, p, "/"); printf "      %10d  %s\n", $1, p[n] }'
}

for arch in i686 x86_64; do
    exe="build/$arch/Installer/win/Stub/PlomStub.exe"
    if [ ! -f "$exe" ]; then
        missing "PlomStub.exe ($arch)"
        continue
    fi
    bytes=$(stat -c %s "$exe")
    printf '  %-38s %10s %10s\n' "PlomStub.exe ($arch)" "$bytes" "$(ratio "$bytes" "$nsis_bytes")"
    if [ "$bytes" -ge "$nsis_bytes" ]; then
        prefix=$([ $arch = i686 ] && echo i686-w64-mingw32 || echo x86_64-w64-mingw32)
        breakdown "$arch" "$exe" "$prefix-objdump" PlomStub
    fi
done

echo
echo "Formatter, one process under wine64"
"$PLOM_WINE64" $bench/bench_format.exe 2>/dev/null | sed 's/^/  /'

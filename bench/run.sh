#!/bin/sh
# Runs the benchmarks and prints the figures (scripts/build.sh must have run: it builds build/x64 with
# the benchmark programs, build/host with the builder, and dist/). Windows programs run under wine64
# in a private Wine session of their own (build/bench/wine).
#   bench/run.sh [STARTUP_RUNS]    (default 30 runs of each program, alternating)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-30}
out=$root/build/bench
x64=$root/build/x64
kestrun=$root/build/host/builder/kestrun
double=$x64/tests/jvm_double/jvm.dll
for f in "$kestrun" "$double" "$x64/bench/bench_startup_timer.exe" "$root/dist/kestrun-x64.exe"; do
    [ -f "$f" ] || { echo "bench: $f missing: run scripts/build.sh first" >&2; exit 1; }
done
winpath() { echo "Z:$1" | tr / '\\'; }

rm -rf "$out/work"
mkdir -p "$out/work"
session=$out/wine
"$root/tests/wine/wine-session.sh" start "$session" >/dev/null
trap '"$root/tests/wine/wine-session.sh" stop "$session"' EXIT
wine() { "$root/tests/wine/wine-run.sh" "$session" "$@"; }

echo "machine: $(nproc) cores, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1); $(wine64 --version 2>/dev/null || /usr/lib/wine/wine64 --version)"

echo
echo "== launcher size"
for exe in "$root/dist/kestrun-x64.exe" "$root/dist/kestrun-x86.exe"; do
    echo "$(basename "$exe"): $(stat -c %s "$exe") bytes"
done

echo
echo "== start-up: process start to the first line written by main (test-double jvm.dll)"
work=$out/work/startup
mkdir -p "$work/classes/bench"
cp "$double" "$work/jvm.dll"
printf 'out started\n' >"$work/classes/bench/Start.script"
cat >"$work/start.ini" <<INI
[launcher]
MainClass = bench.Start
ClassPath = classes
JvmPath = jvm.dll
JvmOptions =
AllowMultipleInstances = yes
SplashText =
INI
"$kestrun" build "$work/start.ini" -o "$work/start.exe" --launcher "$root/dist/kestrun-x64.exe" >/dev/null
cp "$x64/bench/bench_minimal_host.exe" "$work/"
cd "$work"
wine "$x64/bench/bench_startup_timer.exe" "$runs" \
    "$(winpath "$work/start.exe")" \
    "$(winpath "$work/bench_minimal_host.exe") $(winpath "$work/jvm.dll") classes bench/Start" |
    sed -e 's/^A:/launcher:/' -e 's/^B:/minimal host:/' -e 's|ratio A/B|ratio launcher/minimal host|'

echo
echo "== class path option for a tree of archives (500 per folder)"
for count in 500 5000 50000; do
    tree=$out/work/tree$count
    mkdir -p "$tree"
    (cd "$tree" && i=0 && while [ $i -lt $((count / 500)) ]; do
        mkdir -p "group$i" && (cd "group$i" && seq -f "library-with-a-usual-name-%04g.jar" 0 499 | xargs touch)
        i=$((i + 1))
    done)
    wine "$x64/bench/bench_classpath_timer.exe" "$(winpath "$tree")" 5
done

echo
echo "== 20 embedded jars of 5 MB: first start (extraction) and up-to-date start, whole process runs"
work=$out/work/embedded
mkdir -p "$work/jars" "$work/classes/bench"
for i in $(seq -w 1 20); do head -c 5242880 /dev/urandom >"$work/jars/lib$i.jar"; done
printf 'out started\n' >"$work/classes/bench/Files.script"
cp "$double" "$work/jvm.dll"
cat >"$work/files.ini" <<INI
[launcher]
MainClass = bench.Files
ClassPath = classes
JvmPath = jvm.dll
AllowMultipleInstances = yes
SplashText =
[files]
File = jars/*.jar
INI
sed '/^\[files\]/,$d' "$work/files.ini" >"$work/plain.ini"
for name in files plain; do
    "$kestrun" build "$work/$name.ini" -o "$work/$name.exe" --launcher "$root/dist/kestrun-x64.exe" >/dev/null
done
. "$session/env.sh"
extracted="$WINEPREFIX/drive_c/users/$(id -un)/Temp/$(python3 -c 'key = b"Vk4Rb8Zq1Wm7Tc3Y\0"
print("".join("%02X" % (c ^ key[i % 17]) for i, c in enumerate(b"bench.Files")))')"
cd "$work"
# Whole runs (wine64 start to process end), medians of 5: no files, first start, up-to-date start.
elapsed() { start=$(date +%s%N); wine "$1" >/dev/null 2>&1; echo $((($(date +%s%N) - start) / 1000000)); }
median() { tr ' ' '\n' | sort -n | sed -n 3p; }
plain="" first="" again=""
for round in 1 2 3 4 5; do
    rm -rf "$extracted"
    plain="$plain $(elapsed plain.exe)"
    first="$first $(elapsed files.exe)"
    again="$again $(elapsed files.exe)"
done
p=$(echo $plain | median) f=$(echo $first | median) a=$(echo $again | median)
echo "no files: median $p ms; first start: median $f ms; up-to-date start: median $a ms (5 rounds each)"
echo "ratios to the launcher without files: first start $(echo "scale=2; $f / $p" | bc), up-to-date start $(echo "scale=2; $a / $p" | bc)"

echo
echo "== system calls on the extracted files (strace -f -y), first start and up-to-date start"
rm -rf "$extracted"
count() { grep -cE "$1" "$2" || true; }
for start in first up-to-date; do
    strace -f -y -e trace=openat,read,pread64,readv,preadv,write,pwrite64 -o "$work/$start.strace" \
        /usr/lib/wine/wine64 files.exe >/dev/null 2>&1
    jar='[0-9A-F]+/lib[0-9]+\.jar>'
    echo "$start start: $(count "openat\(.*lib[0-9]+\.jar\"" "$work/$start.strace") opens," \
         "$(count "(read|pread64|readv|preadv)\([0-9]+<[^>]*$jar" "$work/$start.strace") reads," \
         "$(count "(write|pwrite64)\([0-9]+<[^>]*$jar" "$work/$start.strace") writes of the extracted jars"
done
rm -rf "$extracted"

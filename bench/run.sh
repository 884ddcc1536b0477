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

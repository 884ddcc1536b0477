#!/bin/sh
# Runs the benchmarks and prints the figures (scripts/build.sh must have run: it builds build/x64 with
# the benchmark programs, build/host with the builder, and dist/). Windows programs run under wine64
# in a private Wine session of their own (build/bench/wine).
#   bench/run.sh [STARTUP_RUNS [SECTION...]]
# STARTUP_RUNS: runs of each program in the start-up comparison (default 100, alternating).
# SECTIONS: size startup classpath embedded capture launchlog (default: all, in that order).
# KESTRUN_BASELINE_LAUNCHER: a prebuilt x64 launcher of an earlier version (built from another
# checkout) that the launchlog section compares this one with, log off, in the same alternating runs.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-100}
[ $# -gt 0 ] && shift
sections=${*:-size startup classpath embedded capture launchlog}
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
# Milliseconds of one whole run of a program (wine64 start to process end); it must exit with 0.
elapsed() {
    start=$(date +%s%N)
    wine "$1" >/dev/null 2>"$out/work/last-run.err" ||
        { echo "bench: $1 failed with status $?: $(tail -3 "$out/work/last-run.err")" >&2; return 1; }
    echo $((($(date +%s%N) - start) / 1000000))
}
median() { tr ' ' '\n' | sort -n | sed -n 3p; }

echo "machine: $(nproc) cores, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1); $(wine64 --version 2>/dev/null || /usr/lib/wine/wine64 --version)"

size() {
echo
echo "== launcher size"
for exe in "$root/dist/kestrun-x64.exe" "$root/dist/kestrun-x86.exe"; do
    echo "$(basename "$exe"): $(stat -c %s "$exe") bytes"
done

}

startup() {
echo
echo "== start-up: process start to the first line written by main (test-double jvm.dll)"
work=$out/work/startup
mkdir -p "$work/classes/bench"
cp "$double" "$work/jvm.dll"
printf 'out started\n' >"$work/classes/bench/Start.script"
# Without a splash screen (the minimal host shows none), and with the shipped splash for comparison.
for splash in 0 1; do
    cat >"$work/start$splash.ini" <<INI
[launcher]
MainClass = bench.Start
ClassPath = classes
JvmPath = jvm.dll
JvmOptions =
AllowMultipleInstances = yes
SplashUntilWindow = $splash
INI
    "$kestrun" build "$work/start$splash.ini" -o "$work/start$splash.exe" --launcher "$root/dist/kestrun-x64.exe" >/dev/null
done
cp "$x64/bench/bench_minimal_host.exe" "$work/"
cd "$work"
for splash in 0 1; do
    [ $splash = 0 ] && echo "launcher without splash screen against the minimal host:" ||
        echo "launcher showing the shipped splash screen until main's first window, against the minimal host:"
    wine "$x64/bench/bench_startup_timer.exe" "$runs" \
        "$(winpath "$work/start$splash.exe")" \
        "$(winpath "$work/bench_minimal_host.exe") $(winpath "$work/jvm.dll") classes bench/Start" |
        sed -e 's/^A:/  launcher:/' -e 's/^B:/  minimal host:/' -e 's|^ratio A/B|  ratio launcher/minimal host|'
done

}

classpath() {
echo
echo "== class path option for a tree of archives (500 per folder)"
for count in 500 5000 50000; do
    tree=$out/work/tree$count
    mkdir -p "$tree"
    (cd "$tree" && i=0 && while [ $i -lt $((count / 500)) ]; do
        mkdir -p "group$i" && (cd "group$i" && seq -f "library-with-a-usual-name-%04g.jar" 0 499 | xargs touch)
        i=$((i + 1))
    done)
    printf "%s archives: " "$count"
    wine "$x64/bench/bench_classpath_timer.exe" "$(winpath "$tree")" 5
done

}

embedded() {
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
cd "$work"
# The extraction folder is the one the launcher itself makes: found by the first jar after one start.
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
elapsed files.exe >/dev/null
extracted=$(dirname "$(find "$temp" -name lib01.jar | head -n 1)")
[ "$extracted" != . ] || { echo "bench: the launcher extracted nothing" >&2; exit 1; }
# Whole runs (wine64 start to process end), medians of 5: no files, first start, up-to-date start.
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
# Under strace the Wine process does not end by itself: the trace is cut after 15 s, long after main ran.
# Files are opened by the Wine server, not in the traced process; reads and writes happen in it.
rm -rf "$extracted"
count() { grep -cE "$1" "$2" || true; }
for start in first up-to-date; do
    timeout 15 strace -f -y -e trace=openat,read,pread64,readv,preadv,write,pwrite64 -o "$work/$start.strace" \
        /usr/lib/wine/wine64 files.exe >/dev/null 2>&1 || true
    jar='[0-9A-F]+/lib[0-9]+\.jar>'
    echo "$start start: $(count "(read|pread64|readv|preadv)\([0-9]+<[^>]*$jar" "$work/$start.strace") reads," \
         "$(count "(write|pwrite64)\([0-9]+<[^>]*$jar" "$work/$start.strace") writes of the extracted jars;" \
         "$(grep -E "(read|pread64)\([0-9]+<[^>]*files\.exe>" "$work/$start.strace" |
            sed -n 's/.*= \([0-9]*\)$/\1/p' | awk '{s += $1} END {print s + 0}') bytes read from the launcher's own file"
done
rm -rf "$extracted"
}

capture() {
echo
echo "== capture throughput: 50 MB printed by main: stream mode 1 written by Java (plain), mode 1 written"
echo "   by the launcher rolling at 10 MB with 5 kept files (the builder's default), mode 2 (capture)"
work=$out/work/capture
mkdir -p "$work/classes/bench"
cp "$double" "$work/jvm.dll"
lines=$((50 * 1048576 / 102)) # 100 characters and CR LF a line
printf 'repeat %d out %s\n' "$lines" "$(printf '%0100d' 0)" >"$work/classes/bench/Chatty.script"
for kind in plain rolling capture; do
    case $kind in
    plain) streams="StdoutMode = 1
StdoutFile = out.log
StdoutKeepFiles = 0
StdoutRollBytes = 0" ;;
    rolling) streams="StdoutMode = 1
StdoutFile = rolled.log" ;;
    capture) streams="StdoutMode = 2" ;;
    esac
    cat >"$work/$kind.ini" <<INI
[launcher]
MainClass = bench.Chatty
ClassPath = classes
JvmPath = jvm.dll
AllowMultipleInstances = yes
SplashText =
$streams
INI
    "$kestrun" build "$work/$kind.ini" -o "$work/$kind.exe" --launcher "$root/dist/kestrun-x64.exe" >/dev/null
done
cd "$work"
plain="" rolling="" capture=""
for round in 1 2 3; do
    plain="$plain $(elapsed plain.exe)"
    rolling="$rolling $(rm -f rolled.log*; elapsed rolling.exe)"
    capture="$capture $(elapsed capture.exe)"
done
middle() { tr ' ' '\n' | sort -n | sed -n 2p; }
f=$(echo $plain | middle) r=$(echo $rolling | middle) c=$(echo $capture | middle)
echo "$lines lines ($(stat -c %s out.log) bytes in the plain file; the rolling one: $(ls rolled.log* | wc -l) files," \
     "$(cat rolled.log* | wc -c) bytes): plain median $f ms, rolling median $r ms, mode 2 median $c ms (3 rounds each," \
     "whole runs); ratio rolling / plain: $(echo "scale=2; $r / $f" | bc), mode 2 / plain: $(echo "scale=2; $c / $f" | bc)"
# The floor: the same writes through a bare named pipe, drained by plain blocking reads, no JVM at all.
floor=$(wine "$x64/bench/bench_pipe_floor.exe" "$lines" 102 | tr -d '\r')
echo "the same $lines writes of 102 bytes through a bare named pipe: $floor ms;" \
     "ratio mode 2 / bare pipe: $(echo "scale=2; $c / $floor" | bc)"
}

launchlog() {
echo
echo "== start-up with the launch log off and on (process start to main's first line, test-double jvm.dll)"
work=$out/work/launchlog
mkdir -p "$work/classes/bench"
cp "$double" "$work/jvm.dll"
printf 'out started\n' >"$work/classes/bench/Start.script"
for log in off on; do
    cat >"$work/log$log.ini" <<INI
[launcher]
MainClass = bench.Start
ClassPath = classes
JvmPath = jvm.dll
AllowMultipleInstances = yes
SplashText =
LaunchLog = $([ $log = on ] && echo launch.log)
INI
    "$kestrun" build "$work/log$log.ini" -o "$work/log$log.exe" --launcher "$root/dist/kestrun-x64.exe" >/dev/null
done
cd "$work"
if [ -n "${KESTRUN_BASELINE_LAUNCHER:-}" ]; then
    "$kestrun" build "$work/logoff.ini" -o "$work/baseline.exe" --launcher "$KESTRUN_BASELINE_LAUNCHER" >/dev/null
    echo "this launcher, log off, against the baseline launcher:"
    wine "$x64/bench/bench_startup_timer.exe" "$runs" "$(winpath "$work/logoff.exe")" "$(winpath "$work/baseline.exe")" |
        sed -e 's/^A:/  log off:/' -e 's/^B:/  baseline:/' -e 's|^ratio A/B|  ratio log off/baseline|'
fi
echo "log on (a file beside the launcher) against log off:"
wine "$x64/bench/bench_startup_timer.exe" "$runs" "$(winpath "$work/logon.exe")" "$(winpath "$work/logoff.exe")" |
    sed -e 's/^A:/  log on:/' -e 's/^B:/  log off:/' -e 's|^ratio A/B|  ratio on/off|'
echo "lines per start with the log on: $(($(wc -l <launch.log) / (runs + 1)))"
}

for section in $sections; do
    $section
done

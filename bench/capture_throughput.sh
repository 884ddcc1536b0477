#!/bin/sh
# Time of a Java program printing MB megabytes (lines of 100 characters) through the output capture
# (stream mode 2) against the same through a file (stream mode 1). Runs in the tests' Wine session.
#   bench/capture_throughput.sh BUILD_DIR [MB]    (default 50; the host builder is taken from build/host)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
megabytes=${2:-50}
session=$build/wine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/tests/wine/wine-session.sh" start "$session" >/dev/null
. "$session/env.sh"
winpath() { echo "Z:$1" | tr / '\\'; }

lines=$((megabytes * 1048576 / 102)) # 100 characters and CR LF
mkdir -p "$work/classes/bench"
printf 'repeat %d out %s\n' "$lines" "$(printf '%0100d' 0)" >"$work/classes/bench/Chatty.script"
for mode in 1 2; do
    cat >"$work/mode$mode.ini" <<INI
[launcher]
MainClass = bench.Chatty
ClassPath = classes
JvmPath = $(winpath "$build/tests/jvm_double/jvm.dll")
JreSearchOrder = 0
AllowMultipleInstances = 1
SplashUntilWindow = 0
StdoutMode = $mode
StdoutFile = out.log
INI
    "$root/build/host/builder/kestrun" build "$work/mode$mode.ini" -o "$work/mode$mode.exe" \
        --launcher "$build/launcher/exe/kestrun-x64.exe" >/dev/null
done
run() { # exe -> milliseconds
    start=$(date +%s%N)
    (cd "$work" && /usr/lib/wine/wine64 "$1" >/dev/null 2>&1)
    echo $(( ($(date +%s%N) - start) / 1000000 ))
}
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 # warm the session
file=$(run mode1.exe)
size=$(stat -c %s "$work/out.log")
capture=$(run mode2.exe)
echo "$lines lines, $size bytes: file (mode 1) $file ms, capture (mode 2) $capture ms," \
     "ratio $(echo "scale=2; $capture / $file" | bc)"

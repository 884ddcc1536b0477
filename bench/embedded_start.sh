#!/bin/sh
# Time of a start that extracts 20 embedded jars of 5 MB each, first start (empty folder) and
# up-to-date start, against the same launcher without files. Runs in the tests' Wine session.
#   bench/embedded_start.sh BUILD_DIR    (e.g. build/x64; the host builder is taken from build/host)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
session=$build/wine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/tests/wine/wine-session.sh" start "$session" >/dev/null
. "$session/env.sh"
winpath() { echo "Z:$1" | tr / '\\'; }

mkdir -p "$work/jars" "$work/classes/bench"
for i in $(seq -w 1 20); do head -c 5242880 /dev/urandom >"$work/jars/lib$i.jar"; done
echo "out started" >"$work/classes/bench/Start.script"
cat >"$work/common.ini" <<INI
[launcher]
MainClass = bench.Start
ClassPath = classes
JvmPath = $(winpath "$build/tests/jvm_double/jvm.dll")
JreSearchOrder = 0
AllowMultipleInstances = 1
SplashUntilWindow = 0
INI
cp "$work/common.ini" "$work/plain.ini"
{ cat "$work/common.ini"; printf '[files]\nFile = jars/*.jar\n'; } >"$work/files.ini"
for name in plain files; do
    "$root/build/host/builder/kestrun" build "$work/$name.ini" -o "$work/$name.exe" \
        --launcher "$build/launcher/exe/kestrun-x64.exe" >/dev/null
done
folder="$WINEPREFIX/drive_c/users/$(id -un)/Temp/$(python3 -c 'import sys
key=b"Vk4Rb8Zq1Wm7Tc3Y\0"
print("".join("%02X" % (c ^ key[i % 17]) for i, c in enumerate(b"bench.Start")))')"

run() { # exe -> milliseconds
    start=$(date +%s%N)
    (cd "$work" && /usr/lib/wine/wine64 "$1" >/dev/null 2>&1)
    echo $(( ($(date +%s%N) - start) / 1000000 ))
}
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 # warm the session
for round in 1 2 3; do
    rm -rf "$folder"
    plain=$(run plain.exe)
    first=$(run files.exe)
    again=$(run files.exe)
    echo "round $round: no files ${plain} ms, first start ${first} ms, up-to-date start ${again} ms"
done
ls "$folder" | wc -l | sed 's/^/files extracted: /'
rm -rf "$folder"

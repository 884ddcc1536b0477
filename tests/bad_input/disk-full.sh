#!/bin/sh
# A full disk during extraction: the embedded file's place in the extraction folder is a link to
# /dev/full, so every write to it fails with "no space" as on a full volume (no mount needed).
# The launcher must report the write failure once, go on without the file and end with a failure.
#   disk-full.sh SESSION_DIR BUILDER.exe LAUNCHER.exe JVM.dll WATCHER.exe
set -eu
session=$1 builder=$2 launcher=$3 double=$4 watcher=$5
. "$session/env.sh"
wine=${WINE:-/usr/lib/wine/wine64}
winpath() { echo "Z:$1" | tr / '\\'; }
work=$(mktemp -d)
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
scrambled=$(python3 -c 'key = b"Vk4Rb8Zq1Wm7Tc3Y\0"
print("".join("%02X" % (c ^ key[i % 17]) for i, c in enumerate(b"e2e.DiskFull")))')
trap 'rm -rf "$work" "$temp/$scrambled"' EXIT

printf '== e2e/DiskFull\nout ran\n' >"$work/app.jar"
cat >"$work/app.ini" <<INI
[launcher]
MainClass = e2e.DiskFull
ClassPath =
JvmPath = $(winpath "$double")
JreSearchOrder = 0
AllowMultipleInstances = 1
SplashUntilWindow = 0
[files]
File = app.jar
INI
"$wine" "$builder" build "$(winpath "$work/app.ini")" -o "$(winpath "$work/app.exe")" \
    --launcher "$(winpath "$launcher")" >/dev/null
mkdir -p "$temp/$scrambled"
ln -s /dev/full "$temp/$scrambled/app.jar"
seen=$("$wine" "$watcher" "$(winpath "$work/app.exe")" 2>/dev/null | tr -d '\r')
printf '%s\n' "$seen"
expected="--- Error box ---
Error writing to file/directory: C:\\users\\$(id -un)\\Temp\\$scrambled\\app.jar"
case $seen in
"$expected"*) ;;
*) echo "FAILED: the first report is not the write failure"; exit 1 ;;
esac
[ "$(printf '%s\n' "$seen" | grep -c -- '^--- .* box ---$')" = 2 ] || { echo "FAILED: not exactly two reports"; exit 1; }
printf '%s\n' "$seen" | grep -q -- '^Error locating class: e2e/DiskFull$' || { echo "FAILED: no missing-class report"; exit 1; }
printf '%s\n' "$seen" | grep -q -- '^--- exit code -1 ---$' || { echo "FAILED: exit code is not -1"; exit 1; }
echo "disk-full: ok"

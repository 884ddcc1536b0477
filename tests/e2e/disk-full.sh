#!/bin/sh
# A full disk while embedded files are extracted: the file's place in the extraction folder is a link
# to /dev/full, so writing it fails with "no space" as on a full volume (a Windows program cannot make
# that link, hence a script). The launcher reports the failed write, goes on without the file (its
# main class is then missing) and ends with a failure.
#   disk-full.sh SESSION_DIR BUILDER.exe LAUNCHER.exe JVM.dll WATCHER.exe
set -eu
session=$1 builder=$2 launcher=$3 double=$4 watcher=$5
. "$session/env.sh"
wine=${WINE:-/usr/lib/wine/wine64}
winpath() { echo "Z:$1" | tr / '\\'; }
work=$(mktemp -d)
user=$(id -un)
trap 'rm -rf "$work" "${extracted:-}"' EXIT

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
# The extraction folder: the temporary directory and "kestrun-" with the identity the builder stored.
name=kestrun-$("$wine" "$builder" show "$(winpath "$work/app.exe")" | sed -n 's/^; built: ApplicationId = \([0-9A-F]*\).*/\1/p')
extracted="$WINEPREFIX/drive_c/users/$user/Temp/$name"
rm -rf "$extracted"
mkdir -p "$extracted"
ln -s /dev/full "$extracted/app.jar"
seen=$("$wine" "$watcher" "$(winpath "$work/app.exe")" 2>/dev/null | tr -d '\r')
expected="--- Error box ---
Error writing to file/directory: C:\\users\\$user\\Temp\\$name\\app.jar

Reason: Disk full.

--- Error box ---
Error locating class: e2e/DiskFull
Details:
The JVM was given no class path: it looks in its current directory.

--- exit code -1 ---"
if [ "$seen" != "$expected" ]; then
    printf 'FAILED: the watcher saw\n%s\n--- expected ---\n%s\n' "$seen" "$expected"
    exit 1
fi
echo "disk-full: ok"

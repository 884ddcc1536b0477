#!/bin/sh
# Links in the extraction folder's place, which a Windows program cannot make under Wine, hence a
# script. A full disk: the file's place is a link to /dev/full, so writing it fails with "no space" as
# on a full volume; the launcher reports the failed write, goes on without the file (its main class is
# then missing) and ends with a failure. A link in place of the folder (Wine shows a link to a folder
# as a reparse point, as Windows shows a junction): neither extraction nor cleanup follows it. A folder
# of another owner, which only a shell can make under Wine, is not used either.
#   linked-files.sh SESSION_DIR BUILDER.exe LAUNCHER.exe JVM.dll WATCHER.exe
set -eu
session=$1 builder=$2 launcher=$3 double=$4 watcher=$5
. "$session/env.sh"
wine=${WINE:-/usr/lib/wine/wine64}
winpath() { echo "Z:$1" | tr / '\\'; }
work=$(mktemp -d)
user=$(id -un)
trap 'rm -rf "$work" "${extracted:-}" "${extracted:-}-1"' EXIT

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
expected="--- app box ---
Error writing to file/directory: C:\\users\\$user\\Temp\\$name\\app.jar

Reason: Disk full.

--- app box ---
Error locating class: e2e/DiskFull
Details:
The JVM was given no class path: it looks in its current directory.

--- exit code -1 ---"
if [ "$seen" != "$expected" ]; then
    printf 'FAILED: the watcher saw\n%s\n--- expected ---\n%s\n' "$seen" "$expected"
    exit 1
fi

# A folder of another account (Wine shows a folder of another Unix user as owned by ANONYMOUS LOGON),
# holding a jar of the right size and time: left alone, the launcher's own files go beside it.
ran="ran
--- exit code 0 ---"
rm -rf "$extracted"
mkdir "$extracted"
printf '== e2e/DiskFull\nexit 99\n' >"$extracted/app.jar"
touch -r "$work/app.jar" "$extracted/app.jar"
chown -R nobody "$extracted"
seen=$("$wine" "$watcher" "$(winpath "$work/app.exe")" 2>/dev/null | tr -d '\r')
[ "$seen" = "$ran" ] || { printf 'FAILED: a folder of another owner was used: %s\n' "$seen"; exit 1; }

rm -rf "$extracted" "$extracted-1"
mkdir "$work/elsewhere"
echo "not the program's" >"$work/elsewhere/app.jar"
ln -s "$work/elsewhere" "$extracted"
seen=$("$wine" "$watcher" "$(winpath "$work/app.exe")" 2>/dev/null | tr -d '\r')
"$wine" "$work/app.exe" -krremovetemporaryjarfiles 0
if [ "$seen" != "$ran" ] || [ -e "$extracted-1" ] ||
    [ "$(cat "$work/elsewhere/app.jar")" != "not the program's" ]; then
    printf 'FAILED: the link was followed; the watcher saw\n%s\n' "$seen"
    exit 1
fi
echo "linked-files: ok"

#!/bin/sh
# A launcher whose own path is longer than MAX_PATH cannot make its folder current: it says so and
# stops, instead of running with the caller's folder as its base (where a class of the same name
# waits here). Wine's CreateProcess refuses such a path while a shell starts it by its Unix name,
# hence a script; a console launcher, so that the report is a line on standard error.
#   long-path.sh SESSION_DIR BUILDER.exe LAUNCHER.exe JVM.dll
set -eu
session=$1 builder=$2 launcher=$3 double=$4
. "$session/env.sh"
wine=${WINE:-/usr/lib/wine/wine64}
winpath() { echo "Z:$1" | tr / '\\'; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
deep=$work/$(printf 'folder%094d/' 1 2 3)
mkdir -p "$deep" "$work/classes/e2e"
echo "out ran in the caller's folder" >"$work/classes/e2e/LongPath.script"
cat >"$work/app.ini" <<INI
[launcher]
MainClass = e2e.LongPath
ClassPath = classes
JvmPath = $(winpath "$double")
JreSearchOrder = 0
AllowMultipleInstances = 1
Console = yes
INI
"$wine" "$builder" build "$(winpath "$work/app.ini")" -o "$(winpath "$work/app.exe")" \
    --launcher "$(winpath "$launcher")" >/dev/null
cp "$work/app.exe" "$deep"
status=0
(cd "$work" && "$wine" "$deep/app.exe" >"$work/seen" 2>&1) || status=$?
seen=$(tr -d '\r' <"$work/seen")
expected="Error accessing file/directory: CURRENT_EXE

Reason: File name is too long."
if [ "$seen" != "$expected" ] || [ $status -ne 255 ]; then
    printf 'FAILED: exit status %s and the launcher printed\n%s\n--- expected 255 and ---\n%s\n' \
        "$status" "$seen" "$expected"
    exit 1
fi
echo "long-path: ok"

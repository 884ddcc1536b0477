#!/bin/sh
# The main job on the bundled example: builds everything, then starts the shipped launcher under
# wine64 the way a user would and prints every dialog it shows and its exit code.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
session="$root/build/demo-wine"
"$root/tests/wine/wine-session.sh" start "$session"
trap '"$root/tests/wine/wine-session.sh" stop "$session"' EXIT
echo "demo: starting dist/kestrun-x64.exe"
"$root/tests/wine/wine-run.sh" "$session" "$root/build/x64/tests/watcher/report_watcher.exe" \
    "$root/dist/kestrun-x64.exe"

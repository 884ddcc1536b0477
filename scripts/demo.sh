#!/bin/sh
# The main job on the bundled example: builds Kestrun, builds the Hello example's jar with `jar cfe`
# and makes its launcher from the jar alone (`kestrun build hello.jar -o hello.exe`), then starts that
# launcher under wine64 the way a user would and prints every dialog it shows and its exit code. (This
# machine has no Windows Java runtime, so the launcher's answer is "This application needs Java ... or
# later, and none was found on this computer. ...", with the search's account as its details.)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
"$root/examples/hello/build.sh" "$root/dist"
session="$root/build/demo-wine"
"$root/tests/wine/wine-session.sh" start "$session"
trap '"$root/tests/wine/wine-session.sh" stop "$session"' EXIT
echo "demo: starting examples/hello/build/hello.exe"
"$root/tests/wine/wine-run.sh" "$session" "$root/build/x64/tests/kit/report_watcher.exe" \
    "$root/examples/hello/build/hello.exe"

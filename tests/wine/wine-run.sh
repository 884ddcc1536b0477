#!/bin/sh
# Runs a Windows program under wine64 in the tests' private Wine session (see wine-session.sh).
#   wine-run.sh DIR PROGRAM [ARGUMENTS...]
set -eu
dir=${1:?session folder}
shift
[ -f "$dir/env.sh" ] || { echo "wine-run: no Wine session in $dir (wine-session.sh start)" >&2; exit 1; }
. "$dir/env.sh"
exec "${WINE:-/usr/lib/wine/wine64}" "$@"

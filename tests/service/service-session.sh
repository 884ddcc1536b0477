#!/bin/sh
# The service tests' own Wine session (see wine-session.sh), with Wine's event-log channel on for the
# system processes, so that every service's event-log entries appear in DIR/session.err, and with the
# system environment variable KESTRUN_JVM_TRACE, so that the jvm.dll double of every service writes
# its trace to DIR/jvm-trace.txt.
#   service-session.sh start DIR | stop DIR
#   service-session.sh run DIR PROGRAM [ARGUMENTS...]   runs a test program with that channel on and its
#     standard error (and so that of its launchers, and of a service manager it starts again) in session.err
set -eu
here=$(cd "$(dirname "$0")" && pwd)
session=$here/../wine/wine-session.sh
command=${1:?start or stop}
dir=${2:?session folder}
export KESTRUN_WINEDEBUG=-all,err+eventlog,warn+eventlog,trace+eventlog

case $command in
start)
    "$session" start "$dir"
    trace="Z:$(echo "$dir/jvm-trace.txt" | tr / '\\')"
    "$here/../wine/wine-run.sh" "$dir" reg add \
        'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
        /v KESTRUN_JVM_TRACE /d "$trace" /f >/dev/null 2>&1 || { echo "cannot set KESTRUN_JVM_TRACE" >&2; exit 1; }
    # The service manager takes its services' environment once, when it starts: start it again.
    "$session" start "$dir"
    ;;
stop) "$session" stop "$dir" ;;
run) shift 2; exec "$here/../wine/wine-run.sh" "$dir" "$@" 2>>"$dir/session.err" ;;
*) echo "service-session: unknown command $command" >&2; exit 1 ;;
esac

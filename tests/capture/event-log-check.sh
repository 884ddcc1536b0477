#!/bin/sh
# Runs the service-mode capture report test with Wine's event-log channel on and checks the one entry
# Wine printed: the message, an empty line, "Details:" and the captured lines.
#   event-log-check.sh SESSION_DIR CAPTURE_TESTS_EXE
set -u
here=$(dirname "$0")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
KESTRUN_WINEDEBUG=-all,err+eventlog \
    "$here/../wine/wine-run.sh" "$1" "$2" --gtest_filter='CaptureReport.ServiceMode*' >/dev/null 2>"$out"
status=$?
[ $status -eq 0 ] || { echo "the service-mode capture test failed ($status)"; cat "$out"; exit 1; }
want='err:eventlog:ReportEventW L"Error invoking method: main(java/lang/String[])\n\nDetails:\nfirst line\r\nsecond line\r\n"'
count=$(grep -c 'err:eventlog:ReportEventW' "$out")
if grep -F -- "$want" "$out" >/dev/null && [ "$count" -eq 1 ]; then
    echo "event log: one entry with the captured details"
    exit 0
fi
echo "expected one entry: $want"
echo "--- Wine printed:"
cat "$out"
exit 1

#!/bin/sh
# Runs the service-mode report tests with Wine's event-log channel on and checks what Wine printed for
# each entry: the text, and the entry type by the channel Wine prints it on (errors as "err:").
#   event-log-check.sh SESSION_DIR UNIT_TESTS_EXE
set -u
here=$(dirname "$0")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
KESTRUN_WINEDEBUG=-all,err+eventlog,warn+eventlog,trace+eventlog \
    "$here/../wine/wine-run.sh" "$1" "$2" --gtest_filter='ReportTest.ServiceMode*' >/dev/null 2>"$out"
status=$?
fail=0
expect() {
    if ! grep -F -- "$1" "$out" >/dev/null; then
        echo "missing in Wine's event-log output: $1"
        fail=1
    fi
}
[ $status -eq 0 ] || { echo "the service-mode report tests failed ($status)"; fail=1; }
expect 'eventlog:ReportEventW L"The UnitService service has started."'
expect 'err:eventlog:ReportEventW L"Unable to load JVM: C:\\jvm.dll"'
expect 'err:eventlog:ReportEventW L"Error invoking method: main(java/lang/String[])\n\nDetails:\ncaptured line 1\ncaptured line 2"'
if grep -F 'err:eventlog:ReportEventW L"The UnitService service has started."' "$out" >/dev/null; then
    echo "a notice was logged as an error"
    fail=1
fi
# Wine's event log prints an entry even without a registered source (Windows refuses the call), so
# the dropped reports of ServiceModeWithoutEventSource are not looked for here.
[ $fail -eq 0 ] && echo "event log: 3 entries as expected" || { echo "--- Wine printed:"; cat "$out"; }
exit $fail

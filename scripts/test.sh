#!/bin/sh
# Builds everything and runs every test: the 64-bit Windows tests under wine64 (in a private Wine
# session with its own Xvfb display), the checks of the 32-bit build, and the builder's Linux tests;
# then a short fuzz run of every parser (a few seconds each) that replays the saved corpora.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
status=0
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Adds a ctest run's "N% tests passed, F tests failed out of T" to the totals.
count_ctest() {
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    [ -n "$line" ] || { failed=$((failed + 1)); return; }
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    t=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
    passed=$((passed + t - f))
    failed=$((failed + f))
}
# Every case runs once: a case that fails fails the run. A skipped case counts as failed (a missing
# prerequisite is a fault of the machine or of the build, never a pass).
for folder in build/x64 build/x86 build/host; do
    echo "test: $folder"
    (cd "$root/$folder" && ctest -j 2 --output-on-failure) >"$log" 2>&1 || status=1
    cat "$log"
    count_ctest
    skipped=$(grep -cE '\*\*\*Skipped|\[  SKIPPED \]' "$log" || true)
    [ "$skipped" -eq 0 ] || { echo "test: $skipped skipped in $folder"; failed=$((failed + skipped)); status=1; }
done
# The conformance table counts as one test: HotSpot and the double agree on every row, or it fails.
echo "test: conformance"
if "$root/scripts/conformance.sh" >"$log" 2>&1; then passed=$((passed + 1)); else failed=$((failed + 1)); status=1; fi
cat "$log"
echo "test: fuzz"
"$root/fuzz/run.sh" "${KESTRUN_FUZZ_SECONDS:-3}" >"$log" 2>&1 || status=1
cat "$log"
passed=$((passed + $(grep -c '^fuzz: .* ok ' "$log" || true)))
failed=$((failed + $(grep -c '^fuzz: .* FAILED' "$log" || true)))
echo "all tests: $passed passed, $failed failed"
exit $status

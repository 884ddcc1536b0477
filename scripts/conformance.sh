#!/bin/sh
# Runs the conformance table (tests/conformance/table.txt) against HotSpot (the system JDK 17's libjvm.so,
# driven by the native runner) and against the test-double jvm.dll (the Windows runner under wine64),
# normalises both outputs and compares them row by row. Prints the row count and "HotSpot and the double
# agree", or a two-column diff and exits 1. Uses what scripts/build.sh built.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
host=$root/build/host/tests/conformance
x64=$root/build/x64
libjvm=${KESTRUN_LIBJVM:-/usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so}
work=$x64/conformance
for need in "$host/conformance-runner" "$host/classes" "$x64/tests/conformance/conformance-runner.exe" \
    "$x64/tests/jvm_double/jvm.dll" "$libjvm"; do
    [ -e "$need" ] || { echo "conformance: $need missing (scripts/build.sh, scripts/setup-debian.sh)"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"
"$root/tests/wine/wine-session.sh" start "$work/wine" >/dev/null
trap '"$root/tests/wine/wine-session.sh" stop "$work/wine"' EXIT

# The differences that are no fault, each with its reason:
#   CR LF           the double writes Windows line ends, as Java does there
#   [log]           a unified-logging line: its time, sizes and the set of GC lines differ by run
#   Unknown Source  the classes have no debug information; the double names the source file
#   java.base :N    the class library's line numbers change with every JDK update
#   native frames   HotSpot's native stack after a fatal error is the platform's own
normalise() {
    sed -e 's/\r$//' -e 's/\[[0-9.]*s\]\[[a-z]* *\]\[[a-z,]* *\] .*/[log]/' \
        -e 's/([A-Za-z]*\.java)/(Unknown Source)/' -e 's/^\(\tat java\.base\/.*\.java\):[0-9]*)$/\1)/' \
        -e '/^\(vm main stdout: \)\{0,1\}\(Native frames: .*\|[VCJj]  \[.*\)\{0,1\}$/d' "$1" |
        awk '!($0 ~ /\[log\]$/ && $0 == last) { print } { last = $0 }'
}

# run SIDE NAME OPTIONS STEPS: one row in a folder of its own, its output normalised into SIDE.txt.
run() {
    side=$1 name=$2 options=$3 steps=$4
    dir=$work/$side/$name
    mkdir -p "$dir"
    if [ "$side" = hotspot ]; then
        cp -r "$host/classes" "$dir/classes"
        set -- "$host/conformance-runner" "$libjvm"
    else
        mkdir "$dir/classes" && cp "$root"/tests/conformance/classes/*.script "$dir/classes/"
        set -- "$root/tests/wine/wine-run.sh" "$work/wine" "$x64/tests/conformance/conformance-runner.exe" \
            "$x64/tests/jvm_double/jvm.dll"
    fi
    status=0
    # set -f: options such as -Xlog:gc* are no file patterns.
    (set -f && cd "$dir" && timeout 60 "$@" $options -- $steps >"../$name.out" 2>"../$name.err" </dev/null) || status=$?
    {
        echo "== $name"
        normalise "$work/$side/$name.out"
        echo "stderr:"
        normalise "$work/$side/$name.err"
        for file in "$dir"/*.txt "$dir"/*.log; do
            [ -f "$file" ] && { echo "file ${file##*/}:"; normalise "$file"; }
        done
        echo "status $status"
    } >"$work/$side/$name.txt"
}

rows=0
differ=0
while IFS='|' read -r name options steps; do
    name=$(echo "$name" | tr -d ' ')
    case $name in '' | '#'*) continue ;; esac
    rows=$((rows + 1))
    run hotspot "$name" "$options" "$steps"
    run double "$name" "$options" "$steps"
    cmp -s "$work/hotspot/$name.txt" "$work/double/$name.txt" && continue
    differ=$((differ + 1))
    echo "conformance: row $name: HotSpot (left) and the double (right) differ:"
    diff -y -t -W 160 "$work/hotspot/$name.txt" "$work/double/$name.txt" || true
done <"$root/tests/conformance/table.txt"

if [ "$differ" -eq 0 ]; then
    echo "conformance: $rows rows: HotSpot and the double agree"
    exit 0
fi
echo "conformance: $differ of $rows rows differ"
exit 1

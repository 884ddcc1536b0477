#!/bin/sh
# Builds the fuzz targets (native clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs each
# for SECONDS seconds, starting from the committed seed corpus in fuzz/corpus/NAME (which also holds
# every input that once found a fault, so each run replays them all first). Every target, one per
# fuzz/fuzz_NAME.cpp, must have a seed corpus: a missing or empty one fails the run. New inputs found
# go to build/fuzz/corpus/NAME; a crash leaves its input in build/fuzz/crashes/. Exit status 1 on
# any failure.
# Usage: fuzz/run.sh SECONDS [TARGET...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
build=$root/build/fuzz
[ -f "$build/build.ninja" ] ||
    cmake -G Ninja -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
          -DKESTRUN_FUZZ=ON >/dev/null
ninja -C "$build" -j "${KESTRUN_JOBS:-2}" fuzz/all >"$build/build.log" 2>&1 || { tail -40 "$build/build.log"; exit 1; }

all=$(cd "$root/fuzz" && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//')
targets=${*:-$all}
mkdir -p "$build/crashes"
status=0
# Seeds left behind by a target that is gone would never run.
for name in $(ls "$root/fuzz/corpus"); do
    if ! echo "$all" | grep -qx "$name"; then
        echo "fuzz: $name FAILED (fuzz/corpus/$name has no target fuzz/fuzz_$name.cpp)"
        status=1
    fi
done
for name in $targets; do
    seeds=$root/fuzz/corpus/$name
    if [ ! -x "$build/fuzz/fuzz_$name" ]; then
        echo "fuzz: $name FAILED (no target fuzz_$name in fuzz/CMakeLists.txt)"
        status=1
        continue
    fi
    if [ -z "$(ls -A "$seeds" 2>/dev/null)" ]; then
        echo "fuzz: $name FAILED (no seed corpus: fuzz/corpus/$name is missing or empty)"
        status=1
        continue
    fi
    work=$build/corpus/$name
    mkdir -p "$work"
    log=$build/fuzz_$name.log
    # -rss_limit_mb and -timeout turn runaway memory or time into failures as well.
    if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
           -print_final_stats=1 -artifact_prefix="$build/crashes/${name}-" "$work" "$seeds" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz: $name ok (${seconds}s, ${runs:-?} runs)"
    else
        echo "fuzz: $name FAILED (log: $log)"
        grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -8
        status=1
    fi
done
exit $status

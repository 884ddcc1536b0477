#!/bin/sh
# Builds the launcher for both targets (and the tests), the builder for Linux and Windows, and leaves
# the release layout in dist/:
#   dist/kestrun-x86.exe  dist/kestrun-x64.exe   the prebuilt launchers
#   dist/kestrun          dist/kestrun.exe       the builder (Linux, Windows x64)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KESTRUN_JOBS:-2}

configure() { # folder [cmake arguments]
    folder=$1
    shift
    [ -f "$folder/build.ninja" ] || cmake -G Ninja -S . -B "$folder" "$@" >/dev/null
}

configure build/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
configure build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
configure build/host
for folder in build/x64 build/x86 build/host; do
    echo "build: $folder"
    ninja -C "$folder" -j "$jobs" >"$folder/build.log" 2>&1 || { tail -40 "$folder/build.log"; exit 1; }
done

mkdir -p dist
cp build/x64/launcher/exe/kestrun-x64.exe build/x86/launcher/exe/kestrun-x86.exe dist/
[ -f build/host/builder/kestrun ] && cp build/host/builder/kestrun dist/
[ -f build/x64/builder/kestrun.exe ] && cp build/x64/builder/kestrun.exe dist/
ls -l dist

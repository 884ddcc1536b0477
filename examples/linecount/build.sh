#!/bin/sh
# Builds the LineCount example's launcher: compiles the Java app into build/linecount.jar with the JDK on
# PATH, then writes build/linecount.exe with kestrun from the given dist folder.
#   examples/linecount/build.sh DIST_DIR [x64|x86]
set -eu
if [ $# -lt 1 ]; then
    echo "usage: $0 DIST_DIR [x64|x86]" >&2
    exit 2
fi
dist=$(cd "$1" && pwd)
arch=${2:-x64}
here=$(cd "$(dirname "$0")" && pwd)
kestrun="$dist/kestrun"
[ -x "$kestrun" ] || kestrun="$dist/kestrun.exe"

rm -rf "$here/build"
mkdir -p "$here/build/classes"
javac --release 8 -d "$here/build/classes" "$here/LineCount.java"
jar --create --file "$here/build/linecount.jar" --main-class linecount.LineCount -C "$here/build/classes" .
"$kestrun" build "$here/linecount.ini" -o "$here/build/linecount.exe" --arch "$arch"
"$kestrun" show "$here/build/linecount.exe"

#!/bin/sh
# Builds the Hello example's launchers: compiles the Java app into build/hello.jar with the JDK on
# PATH (`jar cfe` writes the main class into its manifest), then writes with kestrun from the given
# dist folder build/hello.exe from the jar alone, and build/hello-config.exe from hello.ini.
#   examples/hello/build.sh DIST_DIR [x64|x86]
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
javac --release 8 -d "$here/build/classes" "$here/Hello.java"
jar cfe "$here/build/hello.jar" hello.Hello -C "$here/build/classes" .
"$kestrun" build "$here/build/hello.jar" -o "$here/build/hello.exe" --arch "$arch"
"$kestrun" build "$here/hello.ini" -o "$here/build/hello-config.exe" --arch "$arch"
"$kestrun" show "$here/build/hello.exe"

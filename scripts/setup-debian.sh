#!/bin/sh
# Installs what building and testing Kestrun needs on a Debian 12 machine (run as root).
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake ninja-build g++ python3 git ca-certificates \
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64 \
    googletest openjdk-17-jdk-headless zlib1g-dev libz-mingw-w64-dev osslsigncode openssl \
    wine64 wine xvfb xauth x11-apps imagemagick \
    clang libclang-rt-14-dev strace bc libstb-dev >/dev/null
echo "setup: done"

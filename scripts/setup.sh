#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine (as root, or with sudo).
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev locales
  clang libclang-rt-14-dev  # clang and its libFuzzer runtime for the fuzz targets
  libssl-dev openssl        # OpenSSL 3 for the stand-in library; its command line as a test peer
  openjdk-17-jdk-headless   # the Java bridge: its headers, javac for the jar, java for its tests
  xvfb libx11-dev           # an X server for the window helpers' tests, Xlib for their fixture
  pkgconf dpkg-dev)         # the package test: pkg-config; dpkg-shlibdeps for the packages
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

# A locale whose decimal separator is a comma, to prove number text never depends on the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "note: de_DE.UTF-8 not generated"
fi

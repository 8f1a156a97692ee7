#!/usr/bin/env bash
# Installs a built tree to a temporary prefix and checks it as an application would see it: the
# installed libraries' SONAMEs and that none carries a RUNPATH; a C++ program found through
# find_package(vorn) that logs on to the installed simulator and reads a price; a C program built
# with pkg-config that links the live library and loads it at run time; a Java session on the
# installed jar, bridge and simulator. Then it builds the Debian packages, unpacks them and
# builds and runs the same programs against the unpacked tree.
#
#   scripts/package-test.sh [BUILD_DIR]      (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

major=$(sed -n 's/^CMAKE_PROJECT_VERSION_MAJOR:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$major" ] || major=$(sed -n 's/^vorn_VERSION_MAJOR:[A-Z]*=//p' "$build/CMakeCache.txt")

# check_tree ROOT NAME: the installed tree below ROOT (a prefix) as an application uses it.
check_tree() {
  local root=$1 name=$2
  local pc
  pc=$(find "$root" -name vornapi.pc -path '*/pkgconfig/*' | head -n 1)
  [ -n "$pc" ] || fail "$name: no vornapi.pc"
  local libdir
  libdir=$(dirname "$(dirname "$pc")")
  echo "-- $name: $libdir"

  for lib in vornapi simapi vornjni ravelink; do
    local file=$libdir/vorn/lib$lib.so
    [ -e "$file" ] || fail "$name: no $file"
    local dynamic
    dynamic=$(readelf -d "$(readlink -f "$file")")
    grep -q "(SONAME).*\[lib$lib\.so\.$major\]" <<<"$dynamic" ||
      fail "$name: lib$lib.so has no SONAME lib$lib.so.$major"
    if grep -Eq '\((RUNPATH|RPATH)\)' <<<"$dynamic"; then
      fail "$name: lib$lib.so carries a run path: $(grep -E 'RUNPATH|RPATH' <<<"$dynamic")"
    fi
  done
  for data in testacct.txt testcont.csv testdate.csv testotype.txt testreps.txt testrtype.txt; do
    [ -f "$libdir/vorn/$data" ] || fail "$name: no $data beside libsimapi.so"
  done

  # find_package(vorn) and vorn::simapi; the program runs from its own build folder.
  local consumer=$work/$name-cmake
  cmake -S "$source/packaging/consumer" -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$root" \
    >"$work/$name-cmake.log" || { cat "$work/$name-cmake.log"; fail "$name: find_package"; }
  cmake --build "$consumer" >>"$work/$name-cmake.log" ||
    { cat "$work/$name-cmake.log"; fail "$name: building the CMake consumer"; }
  mkdir -p "$work/$name-client"
  "$consumer/simprice" "$work/$name-client/" || fail "$name: simprice"
  # It ran the installed simulator, not the build tree's.
  readelf -d "$consumer/simprice" | grep -q "\[libsimapi\.so\.$major\]" ||
    fail "$name: simprice does not need libsimapi.so.$major"

  # pkg-config: compile, link and load the live library by the file the package names.
  local pkg="env PKG_CONFIG_PATH=$libdir/pkgconfig PKG_CONFIG_LIBDIR=$libdir/pkgconfig pkg-config"
  local library
  library=$($pkg --variable=library vornapi)
  # shellcheck disable=SC2046
  cc -std=c11 -Wall -Wextra -Werror $($pkg --cflags vornapi) \
    "$source/packaging/consumer/loadapi.c" -o "$work/$name-loadapi" \
    $($pkg --libs vornapi) -Wl,-rpath,"$($pkg --variable=libdir vornapi)" -ldl ||
    fail "$name: building the pkg-config consumer"
  "$work/$name-loadapi" "$library" || fail "$name: loadapi"
  $pkg --exists --print-errors 'simapi >= '"$major" || fail "$name: simapi.pc"

  # Java: the installed jar and bridge, the bridge's own simulator session test on the installed
  # simulator library (its test classes come from the build).
  local tests_jar=$build/tests/vornjni/vornjni_bridge_test.jar
  if [ -f "$tests_jar" ]; then
    tests/vornjni/run-java-test.sh java C "$root/share/java/vornjni.jar:$tests_jar" \
      "$libdir/vorn" quorvex.test.SimSessionTest "$libdir/vorn/" || fail "$name: Java session"
  fi
}

echo "== staged install"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix" install

echo "== Debian packages"
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log") ||
  { cat "$work/cpack.log"; fail "cpack"; }
runtime=$(ls "$work"/deb/libvorn"$major"_*.deb)
dev=$(ls "$work"/deb/libvorn-dev_*.deb)
# Read whole before matching: grep -q would close the pipe early.
[[ $(dpkg-deb -f "$runtime" Depends) == *libssl* ]] || fail "the runtime package does not need libssl"
[[ $(dpkg-deb -f "$dev" Depends) == *"libvorn$major "* ]] ||
  fail "the -dev package does not need libvorn$major"
dev_files=$(dpkg-deb -c "$dev")
grep -q 'include/vornintf\.h$' <<<"$dev_files" || fail "the -dev package lacks the header"
for deb in "$runtime" "$dev"; do
  echo "-- $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
  dpkg-deb -x "$deb" "$work/unpacked"
done
check_tree "$work/unpacked/usr" deb
echo "== packages and consumers: ok"

#!/usr/bin/env bash
# Runs one of the bridge's Java drivers under -Xcheck:jni: fails on a failed case or on any
# warning the JNI checks print. The driver gets ARGS, then a fresh work folder ending in '/'.
# Usage: run-java-test.sh JAVA LOCALE CLASSPATH LIBRARY_DIR CLASS [ARGS...]
set -uo pipefail
java=$1 locale=$2 classpath=$3 libdir=$4 class=$5
shift 5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
LC_ALL=$locale "$java" -Xcheck:jni -Djava.library.path="$libdir" -cp "$classpath" \
  "$class" "$@" "$work/" >"$work/out.txt" 2>&1
status=$?
cat "$work/out.txt"
if grep -q "WARNING" "$work/out.txt"; then
  echo "FAIL: JNI warnings above"
  exit 1
fi
exit $status

#!/usr/bin/env bash
# Runs the bridge's Java driver under -Xcheck:jni: fails on a failed case or on any warning
# the JNI checks print.
# Usage: run-java-test.sh JAVA LOCALE CLASSPATH LIBRARY_DIR FAKE_DIR FAKE_MISSING_DIR
set -uo pipefail
java=$1 locale=$2 classpath=$3 libdir=$4 fake=$5 missing=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
LC_ALL=$locale "$java" -Xcheck:jni -Djava.library.path="$libdir" -cp "$classpath" \
  quorvex.test.BridgeTest "$fake" "$missing" "$work/" >"$work/out.txt" 2>&1
status=$?
cat "$work/out.txt"
if grep -q "WARNING" "$work/out.txt"; then
  echo "FAIL: JNI warnings above"
  exit 1
fi
exit $status

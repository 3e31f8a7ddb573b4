#!/usr/bin/env bash
# Installs what is missing, builds the tests twice (a normal build and one
# with AddressSanitizer and UndefinedBehaviorSanitizer) and runs them all.
# Ends with the line "N passed, M failed" and a non-zero status on any
# failure.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

export ASAN_OPTIONS=detect_stack_use_after_return=0:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
logs=()
run_suite() {
  local folder=$1
  shift
  echo "=== $folder: build"
  if ! bash scripts/build.sh "$folder" "$@"; then
    echo "=== $folder: build failed"
    status=1
    return
  fi
  echo "=== $folder: test"
  rm -f "$folder/meson-logs/testlog.junit.xml"
  meson test -C "$folder" --print-errorlogs --num-processes 2 || status=1
  logs+=("$folder/meson-logs/testlog.junit.xml")
}

run_suite build
# Unoptimised: the sanitizers find the same faults at -O0, and the build
# takes half the time.
run_suite build-sanitize --buildtype=debug -Db_sanitize=address,undefined -Db_lundef=false \
  -Dbenchmarks=false

read -r passed failed skipped < <(python3 scripts/count-tests.py "${logs[@]}")
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  failed=1 # a build or runner failure that no test case recorded
fi
echo "${passed} passed, ${failed} failed, ${skipped} skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]

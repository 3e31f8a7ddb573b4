#!/usr/bin/env bash
# Installs what is missing, builds the tests twice (a normal build and one
# with AddressSanitizer and UndefinedBehaviorSanitizer) and runs them all,
# then runs every fuzz target for a few seconds in a clang build.
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

# Every fuzz target briefly from its seed corpus, in a clang build with the
# sanitizers; each target counts as one test.
fuzz_passed=0
fuzz_failed=0
run_fuzz() {
  if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
    echo "=== fuzz: not run, clang is not installed"
    return
  fi
  local target log
  mkdir -p build-fuzz
  for target in $(bash scripts/fuzz.sh --list); do
    echo "=== fuzz: $target"
    log=build-fuzz/run-$target.log
    if bash scripts/fuzz.sh "$target" 10 >"$log" 2>&1; then
      fuzz_passed=$((fuzz_passed + 1))
      grep '^stat::number_of_executed_units' "$log" || true
    else
      fuzz_failed=$((fuzz_failed + 1))
      tail -n 60 "$log"
    fi
  done
}
run_fuzz

read -r passed failed skipped < <(python3 scripts/count-tests.py "${logs[@]}")
passed=$((passed + fuzz_passed))
failed=$((failed + fuzz_failed))
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  failed=1 # a build or runner failure that no test case recorded
fi
echo "${passed} passed, ${failed} failed, ${skipped} skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Runs one fuzz target in a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer (folder build-fuzz), starting from its seed
# corpus in fuzz/corpus/TARGET. New inputs go to build-fuzz/corpus/TARGET,
# a crashing input to build-fuzz/crash-TARGET-*. Exits non-zero when the
# target finds a fault.
#   scripts/fuzz.sh TARGET [SECONDS]   run for SECONDS (default 60)
#   scripts/fuzz.sh --list             the targets
set -euo pipefail
cd "$(dirname "$0")/.."

targets=$(sed -n "s/^  '\([a-z_]*\)': \[.*/\1/p" fuzz/meson.build)
if [ "${1:-}" = "--list" ]; then
  echo "$targets"
  exit 0
fi
target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS] (scripts/fuzz.sh --list)}
seconds=${2:-60}
if ! grep -qx "$target" <<<"$targets"; then
  echo "unknown fuzz target '$target'; one of:" $targets >&2
  exit 2
fi
if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
  echo "fuzz: clang is not installed, cannot build the fuzz targets" >&2
  exit 3
fi

folder=build-fuzz
if [ ! -f "$folder/build.ninja" ]; then
  CC=clang CXX=clang++ meson setup "$folder" -Dfuzzing=true -Db_sanitize=address,undefined \
    -Db_lundef=false -Dbenchmarks=false >"$folder.setup.log" 2>&1 || {
    cat "$folder.setup.log"
    exit 1
  }
fi
ninja -C "$folder" -j"$(nproc)" "fuzz/fuzz_$target" >"$folder/build-$target.log" 2>&1 || {
  cat "$folder/build-$target.log"
  exit 1
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$folder/corpus/$target"
# Standard output is closed: the result converters report odd values there.
exec "$folder/fuzz/fuzz_$target" "$folder/corpus/$target" "fuzz/corpus/$target" \
  -max_total_time="$seconds" -max_len=8192 -timeout=20 -close_fd_mask=1 -print_final_stats=1 \
  -artifact_prefix="$folder/crash-$target-"

#!/usr/bin/env bash
# Configures (once) and builds one build folder.
#   scripts/build.sh <folder> [meson setup options...]
set -euo pipefail
cd "$(dirname "$0")/.."

folder=$1
shift
if [ ! -f "$folder/build.ninja" ]; then
  meson setup "$folder" "$@" >"$folder.setup.log" 2>&1 || {
    cat "$folder.setup.log"
    exit 1
  }
fi
ninja -C "$folder" -j"$(nproc)"

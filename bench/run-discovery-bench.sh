#!/usr/bin/env bash
# Builds and runs the discovery benchmark under Wine in a throwaway prefix.
#   bench/run-discovery-bench.sh [windows-build-dir] [entries] [names]
# The Windows build folder defaults to build/win (configured with the
# mingw-w64 toolchain file). The prefix, display and wineserver are the test
# harness's own (scripts/wine-env.sh) and are stopped at the end.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=$(cd "${1:-$source_dir/build/win}" && pwd)
entries=${2:-2000}
names=${3:-20}
state="$build/bench-wine"

cmake --build "$build" --target discovery_bench -j2 >/dev/null
"$source_dir/scripts/wine-env.sh" start "$state" >/dev/null
trap '"$source_dir/scripts/wine-env.sh" stop "$state" >/dev/null' EXIT
CLEARON_WINE_STATE="$state" "$source_dir/scripts/wine-run.sh" \
  "$build/bench/discovery_bench.exe" "$entries" "$names"

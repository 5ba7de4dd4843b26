#!/usr/bin/env bash
# ClearonCheck report over logs of 1,000,000 lines, against reading and
# decoding the same file: an optimised native build without sanitizers in
# BUILD_DIR (default build/bench-host).
#
#   bench/run-report-bench.sh [BUILD_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=${1:-$source_dir/build/bench-host}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCLEARON_SANITIZE=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target report_bench >/dev/null
"$build/bench/report_bench" "$build/bench"

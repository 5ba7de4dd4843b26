#!/usr/bin/env bash
# ClearonCheck report over logs of 1,000,000 lines, against reading and
# decoding the same file, then the peak memory of clearon-check report (each
# output format) over two logs of short lines: an optimised native build
# without sanitizers in BUILD_DIR (default build/bench-host). The peak is
# GNU time's maximum resident set size; the aim is the log's size plus 64 MiB.
#
#   bench/run-report-bench.sh [BUILD_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=${1:-$source_dir/build/bench-host}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCLEARON_SANITIZE=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target report_bench clearon-check >/dev/null
status=0
"$build/bench/report_bench" "$build/bench" || status=1

logs="$build/bench/memory"
rm -rf "$logs"
"$build/bench/report_bench" --memory-logs "$logs"
for shape in foreign runs; do
  log="$logs/$shape/Clearon.BENCH.log"
  size_kib=$(( $(stat -c %s "$log") / 1024 ))
  for format in text --csv --json; do
    args=()
    [ "$format" = text ] || args=("$format")
    peak_kib=$(/usr/bin/time -f %M "$build/src/check/clearon-check" report "$logs/$shape" \
                 "${args[@]}" 2>&1 >/dev/null | tail -n 1)
    verdict=within
    [ "$peak_kib" -le $(( size_kib + 64 * 1024 )) ] || { verdict=OUTSIDE; status=1; }
    echo "$shape: $(( size_kib / 1024 )) MiB log, report $format peaks at $(( peak_kib / 1024 )) MiB ($verdict the aim)"
  done
done
rm -rf "$logs"
exit $status

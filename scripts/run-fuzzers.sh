#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/run-fuzzers.sh [BUILD_DIR]      (default: <repo>/build/fuzz)
#   FUZZ_SECONDS=<n>                         seconds per fuzzer (default 60)
# Each fuzzer <name>_fuzzer starts from tests/fuzz/corpus/<name>/, copied into
# the build folder first, so the source tree is never written to. Crash inputs
# land in BUILD_DIR/artifacts/<name>_fuzzer/. Exits non-zero when a build fails
# or any fuzzer finds a crash.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-60}
max_len=70000  # a little beyond the largest accepted Clearon.ini (65,535 bytes)

mkdir -p "$build" || exit 1
build=$(cd "$build" && pwd)

echo "=== fuzz: configure and build in $build"
if ! CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCLEARON_FUZZ=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1; then
  cat "$build/configure.log"
  echo "=== fuzz: configure FAILED"
  exit 1
fi

fuzzers=()
for source in "$root"/tests/fuzz/*_fuzzer.cpp; do
  [ -e "$source" ] || continue
  fuzzers+=("$(basename "$source" .cpp)")
done
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "=== fuzz: no fuzzers found"
  exit 1
fi

if ! cmake --build "$build" -j2 --target "${fuzzers[@]}" >"$build/build.log" 2>&1; then
  tail -n 60 "$build/build.log"
  echo "=== fuzz: build FAILED"
  exit 1
fi

# UBSan reports are fatal, as ASan's are, so libFuzzer keeps the input.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

status=0
for fuzzer in "${fuzzers[@]}"; do
  name=${fuzzer%_fuzzer}
  seeds="$root/tests/fuzz/corpus/$name"
  work="$build/corpus/$name"
  artifacts="$build/artifacts/$fuzzer"
  rm -rf "$work"
  mkdir -p "$work" "$artifacts"
  if [ -d "$seeds" ]; then
    cp -- "$seeds"/* "$work"/ 2>/dev/null || true
  fi
  echo "=== fuzz: $fuzzer for ${seconds}s ($(ls "$work" | wc -l) seeds)"
  "$build/$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" >"$build/$fuzzer.log" 2>&1
  rc=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|#[0-9]+ +DONE)' \
      "$build/$fuzzer.log" || true
  if [ $rc -ne 0 ]; then
    tail -n 60 "$build/$fuzzer.log"
    echo "=== fuzz: $fuzzer FAILED (exit $rc); inputs in $artifacts"
    status=1
  else
    echo "=== fuzz: $fuzzer passed"
  fi
done
exit $status

#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the portable core and its tests, natively, under AddressSanitizer and UBSan;
#   2. Clearon.exe, its Windows tests and black-box scenarios, under Wine;
#   3. the libFuzzer targets, each for a bounded time (FUZZ_SECONDS, default 30);
#   4. the formatting of every C++ source against .clang-format;
#   5. the layer order of the includes in src/;
#   6. the return-code lists for Intune and Configuration Manager against the
#      README's deploy table;
#   7. the release: built twice from clones of HEAD, compared byte for byte,
#      then signed and verified.
# Every suite runs even when an earlier one fails; the exit status is non-zero
# when any test failed.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CLEARON_BUILD_ROOT:-$root/build}
jobs=$(nproc)

"$root/scripts/install-deps.sh" || exit 1

status=0
passed=0
failed=0

count_ctest() {  # adds a ctest log's counts to the totals
  local line total bad
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/')
  total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

suite() {  # suite NAME BUILD_DIR CTEST_JOBS CMAKE_ARGS...
  local name=$1 dir=$2 ctest_jobs=$3
  shift 3
  echo "=== $name: configure and build"
  if ! cmake -S "$root" -B "$dir" "$@" >"$dir.configure.log" 2>&1; then
    mkdir -p "$(dirname "$dir")"
    cat "$dir.configure.log"
    echo "=== $name: configure FAILED"
    status=1
    failed=$((failed + 1))
    return
  fi
  if ! cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1; then
    tail -n 60 "$dir.build.log"
    echo "=== $name: build FAILED"
    status=1
    failed=$((failed + 1))
    return
  fi
  echo "=== $name: test"
  (cd "$dir" && ctest -j"$ctest_jobs" --output-on-failure --timeout 900) 2>&1 | tee "$dir.ctest.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  count_ctest "$dir.ctest.log"
}

mkdir -p "$build"
# The host tests are separate processes and run two at a time; the Windows
# tests share one Wine prefix and run one after another.
suite "host (ASan+UBSan)" "$build/host" 2 -DCMAKE_BUILD_TYPE=Debug
suite "windows (Wine)" "$build/win" 1 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"

step() {  # step NAME COMMAND...: one more entry, passed when COMMAND succeeds
  echo "=== $1"
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    status=1
    failed=$((failed + 1))
  fi
}

step fuzzers env FUZZ_SECONDS="${FUZZ_SECONDS:-30}" "$root/scripts/run-fuzzers.sh" "$build/fuzz"
step formatting "$root/scripts/check-format.sh"
step layers "$root/scripts/check-layers.sh"
step "return codes" "$root/scripts/check-return-codes.sh"
step release "$root/scripts/test-release.sh"

echo
echo "Total: $passed passed, $failed failed"
exit $status

#!/usr/bin/env bash
# Builds Clearon.exe and runs its main job on a sample workstation: a fresh
# Wine prefix with Clearon.exe and the sample Clearon.ini side by side, a
# silent run, then its exit code and its run log as readable text.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CLEARON_BUILD_ROOT:-$root/build}
"$root/scripts/install-deps.sh"

echo "=== Building Clearon.exe"
cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null 2>&1
cmake --build "$build/win" --target Clearon -j"$(nproc)" >/dev/null

state="$build/demo"
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
unset DISPLAY
cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

echo "=== Preparing a sample workstation (fresh Wine prefix)"
cleanup
rm -rf "$state"
mkdir -p "$state"
wineboot -i >/dev/null 2>&1
tool="$WINEPREFIX/drive_c/ClearonDemo"
mkdir -p "$tool"
cp "$build/win/Clearon.exe" "$tool/"
cp "$root/examples/Clearon.ini" "$tool/"

echo "=== Running C:\\ClearonDemo\\Clearon.exe silently"
set +e
wine 'C:\ClearonDemo\Clearon.exe'
code=$?
set -e
echo
echo "=== Exit code: $code"
for log in "$tool"/Clearon.*.log "$tool"/Clearon_Err.log; do
  [ -f "$log" ] || continue
  echo "=== $(basename "$log")"
  iconv -f UTF-16LE -t UTF-8 "$log"
done

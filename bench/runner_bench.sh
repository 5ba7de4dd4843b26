#!/usr/bin/env bash
# Measures what waiting for a lingering uninstaller costs under Wine: the CPU
# time of the waiting process and of the wineserver serving it, for the plain
# polling loop and for Clearon's runner, beside a wait without any polling;
# and how late the runner logs the exit code after the uninstaller's end.
#
#   bench/runner_bench.sh [WINDOWS_BUILD_DIR] [RUNS] [LINGER_MS]
#
# WINDOWS_BUILD_DIR is a finished Windows build (default build/win; it needs
# libclearon_win.a, libclearon_core.a and test-programs/test_uninstaller.exe).
# The script builds bench/runner_bench.cpp against those libraries, starts a
# prefix of its own under WINDOWS_BUILD_DIR/bench, runs every mode RUNS times
# (default 3) with an uninstaller lingering LINGER_MS (default 10000) and
# stops the prefix again.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=$(cd "${1:-$source_dir/build/win}" && pwd)
runs=${2:-3}
linger=${3:-10000}
out="$build/bench"
mkdir -p "$out"

x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -Werror -municode -static \
  -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
  -I "$source_dir/src" "$here/runner_bench.cpp" -o "$out/runner_bench.exe" \
  "$build/libclearon_win.a" "$build/libclearon_core.a" \
  -lpsapi -ladvapi32 -luser32 -lgdi32 -lkernel32

state="$out/wine"
"$source_dir/scripts/wine-env.sh" start "$state" >/dev/null
trap '"$source_dir/scripts/wine-env.sh" stop "$state" >/dev/null' EXIT
export CLEARON_WINE_STATE="$state"

# The wineserver of this prefix: its working directory is
# <temp>/server-DEV-INODE, named after the prefix folder's device and inode.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$state/prefix")" "$(stat -c %i "$state/prefix")")
server_pid=
for p in /proc/[0-9]*; do
  case "$(readlink "$p/cwd" 2>/dev/null)" in
    */"$server_dir")
      case "$(cat "$p/comm" 2>/dev/null)" in
        wineserver*) server_pid=${p#/proc/} ;;
      esac ;;
  esac
done
[ -n "$server_pid" ] || { echo "wineserver of $state/prefix not found" >&2; exit 1; }
ticks_per_second=$(getconf CLK_TCK)
server_ticks() { awk '{ print $14 + $15 }' "/proc/$server_pid/stat"; }

uninstaller=$(CLEARON_WINE_STATE="$state" WINEPREFIX="$state/prefix" winepath -w "$build/test-programs/test_uninstaller.exe" 2>/dev/null)
scratch='C:\users\Public'

echo "linger ${linger} ms, ${runs} runs per mode, wineserver pid $server_pid"
for run in $(seq 1 "$runs"); do
  for mode in idle bare runner; do
    before=$(server_ticks)
    line=$("$source_dir/scripts/wine-run.sh" "$out/runner_bench.exe" "$mode" "$linger" "$uninstaller" "$scratch" | tr -d '\r')
    after=$(server_ticks)
    server_ms=$(( (after - before) * 1000 / ticks_per_second ))
    echo "run=$run $line wineserver_cpu_ms=$server_ms"
  done
done

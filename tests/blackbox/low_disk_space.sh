#!/usr/bin/env bash
# Clearon.exe on a system drive with less than 500 MiB free ends with exit
# code 112 and says so on standard output in a silent run, even with
# CheckDiskSpace=false; the same start on a roomy drive ends normally.
#
# The small system drive is a 64 MB tmpfs: the prefix's drive C: is pointed
# at it, with C:\windows linked back to the real one and the rest of drive_c
# copied. The trap puts drive C: back whatever happens, so later tests see
# the prefix as it was. Needs root (mount); skips with a message otherwise.
set -eu
state=${CLEARON_WINE_STATE:?CLEARON_WINE_STATE must name the prepared Wine state folder}
build=${CLEARON_BUILD_DIR:?CLEARON_BUILD_DIR must name the Windows build folder}
source_dir=${CLEARON_SOURCE_DIR:?CLEARON_SOURCE_DIR must name the source folder}
prefix=$state/prefix
run="$source_dir/scripts/wine-run.sh"
expected_message='Not enough disk space on the system drive.'
# shellcheck source=lib/wine_session.sh
. "$(dirname "$0")/lib/wine_session.sh"

# 77 tells ctest the scenario was skipped, so a skip never reads as a pass.
skip() {
  echo "SKIPPED: $*"
  exit 77
}

[ "$(id -u)" = 0 ] || skip "mounting a small system drive needs root"
[ -f "$build/Clearon.exe" ] || fail "no $build/Clearon.exe"
[ -L "$prefix/dosdevices/c:" ] || fail "the prefix has no drive C: link"

small=$(mktemp -d /tmp/clearon-small-c.XXXXXX)
original_c=$(readlink "$prefix/dosdevices/c:")
mounted=no
restore() {
  ln -sfn "$original_c" "$prefix/dosdevices/c:"
  if [ "$mounted" = yes ]; then
    umount "$small" || umount -l "$small"
  fi
  rmdir "$small" 2>/dev/null || true
}
trap restore EXIT

# A tmpfs root is world-writable (1777), which Wine shows as Everyone may
# delete from C:\; a system drive's root is not, and Clearon refuses to put
# its event message file below such a folder.
mount -t tmpfs -o size=64m,mode=0755 clearon-small-c "$small" 2>/dev/null || skip "cannot mount a tmpfs here"
mounted=yes

for entry in "$prefix/drive_c"/*; do
  name=$(basename "$entry")
  if [ "$name" = windows ]; then
    ln -s "$prefix/drive_c/windows" "$small/windows"
  elif [ "$name" = t ]; then
    continue  # the Windows tests' copies of the build's programs: not needed here
  else
    cp -a "$entry" "$small/" || fail "cannot copy $name to the small drive"
  fi
done

# One start in a folder of its own; prints "exit code|standard output".
# $1: folder on the current drive C:, $2: the [Settings] lines
start_clearon() {
  local folder=$1 settings=$2
  mkdir -p "$folder"
  cp "$build/Clearon.exe" "$folder/"
  printf '[Settings]\r\n%s\r\n[ProductNames]\r\nNo Such Product\r\n' "$settings" >"$folder/Clearon.ini"
  local out rc=0
  out=$(timeout 120 "$run" "C:\\$(basename "$folder")\\Clearon.exe" </dev/null) || rc=$?
  printf '%s|%s' "$rc" "$out"
}

# The log as text, one line per entry; its byte-order-mark-free UTF-16LE
# is decoded strictly, so a stray byte fails the test.
log_file_text() {
  iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r'
}

check_small_drive_run() {
  local name=$1 settings=$2 folder result rc out log
  folder="$small/clearon-low-$name"
  ln -sfn "$small" "$prefix/dosdevices/c:"
  result=$(start_clearon "$folder" "$settings")
  ln -sfn "$original_c" "$prefix/dosdevices/c:"
  rc=${result%%|*}
  out=${result#*|}
  [ "$rc" = 112 ] || fail "$name: exit code $rc, expected 112"
  [ "$out" = "$expected_message" ] || fail "$name: standard output '$out', expected '$expected_message' without a line end"
  log=$(ls "$folder"/Clearon.*.log 2>/dev/null | head -n1)
  [ -n "$log" ] || fail "$name: no run log in $folder"
  local lines
  lines=$(log_file_text "$log") || fail "$name: the run log is not UTF-16LE"
  local count
  count=$(printf '%s\n' "$lines" | wc -l)
  [ "$count" = 4 ] || fail "$name: run log has $count lines, expected 4: $lines"
  printf '%s\n' "$lines" | sed -n 1p | grep -qx 'Computer Name: .*' || fail "$name: first line is not the computer name"
  printf '%s\n' "$lines" | sed -n 2p | grep -qx '[0-9][0-9]/[0-9][0-9]/[0-9]\{4\} [0-9][0-9]:[0-9][0-9]:[0-9][0-9]:[0-9]\{3\} Clearon starting!' ||
    fail "$name: second line is not the start line"
  printf '%s\n' "$lines" | sed -n 3p | grep -qx '.* Clearon version [0-9]*\.[0-9]*\.[0-9]*' ||
    fail "$name: third line is not the version line"
  printf '%s\n' "$lines" | sed -n 4p | grep -qx "$expected_message" || fail "$name: fourth line is not the message"
  # The early exit comes before the stop line.
  echo "ok: $name: exit code 112, message on standard output and in the log, no stop line"
}

check_small_drive_run silent ""
check_small_drive_run check-disk-space-off "CheckDiskSpace=false"

# The same start on the prefix's own drive C: has room and ends normally.
roomy="$prefix/drive_c/clearon-low-control"
rm -rf "$roomy"
result=$(start_clearon "$roomy" "CheckDiskSpace=false")
rm -rf "$roomy"
[ "${result%%|*}" = 0 ] || fail "control: exit code ${result%%|*} on the roomy drive, expected 0"
[ -z "${result#*|}" ] || fail "control: unexpected standard output '${result#*|}'"
echo "ok: control: the same start on a roomy drive C: ends with 0"

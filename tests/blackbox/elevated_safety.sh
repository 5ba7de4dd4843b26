#!/usr/bin/env bash
# The real Clearon.exe, run as a deployment runs it, against what local users
# and hostile installers can leave on a machine:
#   1. Clearon in a folder whose path holds a blank ("C:\Deploy Kit"), a
#      planted C:\Program.exe and C:\Deploy.exe, and a product whose unquoted
#      uninstall command names a program that is gone: nothing runs, a line
#      says why, the product counts as not removed (exit 1); the resume
#      command Clearon registers quotes its own path, and a logon that runs it
#      starts Clearon, not C:\Deploy.exe;
#   2. pending renames seeded as exact bytes (a deletion without its closing
#      NUL set aside by a killed run) come back pair by pair, a deletion
#      still a deletion; a run log planted as a hard link to another file is
#      refused, the other file untouched, the entries in Clearon_Err.log;
#   3. Windows ending the session while a program runs (wineboot
#      --end-session): the set-aside pending renames are put back at once.
set -eu
# shellcheck source=lib/wine_session.sh
. "$(dirname "$0")/lib/wine_session.sh"

session_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
entry_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ClearonSafetyTest'
drive_c="$WINEPREFIX/drive_c"
computer=$(hostname | tr '[:lower:]' '[:upper:]')
work_unix=$(mktemp -d)

wipe() {
  wine reg delete "$user_runonce" /v Clearon /f >/dev/null 2>&1 || true
  wine reg delete "$tessaral_key" /f >/dev/null 2>&1 || true
  wine reg delete "$entry_key" /f >/dev/null 2>&1 || true
  for value in PendingFileRenameOperations PendingFileRenameOperations_Clearon; do
    wine reg delete "$session_key" /v "$value" /f >/dev/null 2>&1 || true
  done
  rm -rf "$drive_c/Deploy Kit" "$drive_c/clearon-safety" "$drive_c/Program.exe" \
    "$drive_c/Deploy.exe"
}
cleanup() {
  restart
  wipe
  rm -rf "$work_unix"
}
trap cleanup EXIT

log_has() { log_text | grep -q -F -- "$1"; }
value_present() { wine reg query "$session_key" /v "$1" >/dev/null 2>&1; }

# Hex bytes "xx,xx,..." of a list given with \0 escapes, as UTF-16LE.
list_hex() { printf '%b' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }
# Writes a REG_MULTI_SZ value of the Session Manager key as exactly these bytes.
seed_list() {  # value, list with \0 escapes
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"%s"=hex(7):%s\r\n' \
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager' "$1" "$(list_hex "$2")" |
    iconv -f UTF-8 -t UTF-16 >"$work_unix/seed.reg" # a Unicode .reg file: hex(7) is UTF-16LE
  wine regedit /S "$(winepath -w "$work_unix/seed.reg")" >/dev/null 2>&1
}
# The bytes of a value as "xx,xx,...", read from an export of the key.
list_bytes() {
  rm -f "$work_unix/export.reg"
  wine reg export "$session_key" "$(winepath -w "$work_unix/export.reg")" /y >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$work_unix/export.reg" | tr -d '\r' |
    awk -v name="\"$1\"=hex(7):" 'index($0, name) == 1 { on = 1; $0 = substr($0, length(name) + 1) }
      on { line = $0; sub(/\\$/, "", line); gsub(/ /, "", line); printf "%s", line; if ($0 !~ /\\$/) exit }'
}

wipe

echo "--- a planted C:\\Program.exe never runs; the resume command quotes Clearon's path"
dir_unix="$drive_c/Deploy Kit"
dir_win='C:\Deploy Kit'
log_unix="$dir_unix/Clearon.$computer.log"
mkdir -p "$dir_unix"
cp "$build/Clearon.exe" "$dir_unix/"
cp "$build/test-programs/aegira_setup_standin.exe" "$dir_unix/setup.exe"
: >"$dir_unix/aegira_setup.hold" # the installer needs a restart first
cp "$build/test-programs/exit_with.exe" "$drive_c/Program.exe"
cp "$build/test-programs/exit_with.exe" "$drive_c/Deploy.exe"
printf '%s\r\n' '[Settings]' 'ShowGUI=N' 'AskBeforeRemoval=N' 'ResumeAfterReboot=Y' \
  'EnableLogging=Y' 'RunAfterRemoval=setup.exe /version=11.0.5002.333' '[ProductNames]' \
  'Acme Safety Test' '[UninstallPaths]' >"$dir_unix/Clearon.ini"
wine reg add "$entry_key" /v DisplayName /d 'Acme Safety Test' /f >/dev/null
wine reg add "$entry_key" /v UninstallString /d 'C:\Program Files\Acme Safety\uninstall /S' /f >/dev/null
wine reg add "$user_runonce" /f >/dev/null

set +e
timeout 180 wine "$dir_win\\Clearon.exe"
code=$?
set -e
[ "$code" -eq 1 ] || fail "the run ended with $code, not 1: $(log_text)"
log_has ' Not running a command whose program path holds a blank and names no existing file: C:\Program Files\Acme Safety\uninstall /S' ||
  fail "no refusal line: $(log_text)"
! log_has 'Attempting to run: C:\Program' || fail "the command was run: $(log_text)"
log_has ' Failed to remove Acme Safety Test' || fail "not counted as not removed: $(log_text)"
expected="\"$dir_win\\Clearon.exe\" /RunOnce"
[ "$(runonce_value)" = "$expected" ] || fail "RunOnce holds '$(runonce_value)'"

# The logon runs the value as stored; Clearon (not C:\Deploy.exe) starts,
# finds the restart still pending and registers itself again.
wine "$build/test-programs/logon_runonce.exe" Clearon >/dev/null || fail "the logon start failed"
registered_again() { [ "$(runonce_value)" = "$expected" ]; }
wait_for 60 registered_again || fail "Clearon did not start from RunOnce: '$(runonce_value)'"

echo "--- seeded pending renames come back pair by pair; a hard-linked log is refused"
wipe
dir_unix="$drive_c/clearon-safety"
dir_win='C:\clearon-safety'
log_unix="$dir_unix/Clearon.$computer.log"
mkdir -p "$dir_unix"
cp "$build/Clearon.exe" "$dir_unix/"
printf '%s\r\n' '[Settings]' 'ShowGUI=N' 'AskBeforeRemoval=N' 'EnableLogging=Y' '[ProductNames]' \
  'Nothing Installed Here' '[UninstallPaths]' >"$dir_unix/Clearon.ini"
# A killed run left a deletion set aside, without its closing NUL; an
# installer has scheduled a replacement since.
seed_list PendingFileRenameOperations_Clearon '\\??\\C:\\a.tmp\0\0'
seed_list PendingFileRenameOperations '\\??\\C:\\b.new\0\\??\\C:\\b.dll\0\0'
printf 'not a log\n' >"$dir_unix/other.txt"
ln "$dir_unix/other.txt" "$log_unix"

set +e
timeout 120 wine "$dir_win\\Clearon.exe"
code=$?
set -e
[ "$code" -eq 0 ] || fail "the run ended with $code"
[ "$(list_bytes PendingFileRenameOperations)" = "$(list_hex '\\??\\C:\\a.tmp\0\0\\??\\C:\\b.new\0\\??\\C:\\b.dll\0\0')" ] ||
  fail "pending renames: $(list_bytes PendingFileRenameOperations)"
! value_present PendingFileRenameOperations_Clearon || fail "the set-aside value stayed"
[ "$(cat "$dir_unix/other.txt")" = 'not a log' ] || fail "the linked file was written"
err=$(iconv -f UTF-16LE -t UTF-8 "$dir_unix/Clearon_Err.log" | tr -d '\r')
echo "$err" | grep -q -F ' Not writing to the run log: it is a link or has more than one name.' ||
  fail "no refusal in the error log: $err"
[ "$(echo "$err" | grep -c -F 'Not writing to the run log')" -eq 1 ] || fail "refusal logged more than once"
echo "$err" | grep -q -F ' Clearon stopping!' || fail "the entries did not reach the error log: $err"

echo "--- the session ends while a program runs: the pending renames go back at once"
if [ -z "${DISPLAY:-}" ]; then
  echo "no display: the end-session messages need one"
  exit 77
fi
rm -f "$log_unix" "$dir_unix/Clearon_Err.log" "$dir_unix/other.txt"
wine reg delete "$session_key" /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
cp "$build/test-programs/test_uninstaller.exe" "$dir_unix/linger.exe"
printf '%s\r\n' '[Settings]' 'ShowGUI=N' 'AskBeforeRemoval=N' 'EnableLogging=Y' \
  'RunBeforeRemoval=linger.exe /sleep=120000' '[ProductNames]' 'Nothing Installed Here' \
  '[UninstallPaths]' >"$dir_unix/Clearon.ini"
# The machine's own pending operation: delete a file at the next boot.
: >"$dir_unix/doomed.txt"
seed_list PendingFileRenameOperations '\\??\\C:\\clearon-safety\\doomed.txt\0\0\0'
wine "$dir_win\\Clearon.exe" >/dev/null 2>&1 &
set_aside() { value_present PendingFileRenameOperations_Clearon && ! value_present PendingFileRenameOperations; }
wait_for 60 set_aside || fail "the pending renames were never set aside"
wineboot --end-session >/dev/null 2>&1 || true
session_logged() { log_has ' Windows is ending the session: the pending file renames were put back.'; }
wait_for 60 session_logged || fail "no session-end line: $(log_text)"
! value_present PendingFileRenameOperations_Clearon || fail "the pending renames stayed set aside"
# Back in Windows' own value; Wine's wineboot may already have applied it as
# a boot does (the file is then gone, and the value with it).
if [ -e "$dir_unix/doomed.txt" ]; then
  [ "$(list_bytes PendingFileRenameOperations)" = "$(list_hex '\\??\\C:\\clearon-safety\\doomed.txt\0\0\0')" ] ||
    fail "pending renames: $(list_bytes PendingFileRenameOperations)"
fi
echo "ok"

#!/usr/bin/env bash
# Clearon.exe in a Wine session without a display, where no window can be
# made at all (as on a machine without a usable desktop): the dialog cannot
# be created. A start that waits for Start ends with 1459 and nothing done;
# an automatic run goes ahead without the dialog. Neither may end with 0
# having done nothing. The session is started again with the display
# afterwards, for the other tests.
set -eu
# shellcheck source=lib/wine_session.sh
. "$(dirname "$0")/lib/wine_session.sh"

dir_unix="$WINEPREFIX/drive_c/clearon-no-display"
log_unix="$dir_unix/Clearon.$(hostname | tr '[:lower:]' '[:upper:]').log"
display=${DISPLAY:-}

cleanup() {
  rm -rf "$dir_unix"
  # The other tests need a session that has the display again.
  [ -n "$display" ] && export DISPLAY="$display"
  restart
}
trap cleanup EXIT

# A session without a display: the first Wine process decides it.
wineserver -k >/dev/null 2>&1 || true
unset DISPLAY
start_session

run_case() {  # name, expected exit code, settings lines, pattern the log must hold, marks expected
  local name=$1 expected=$2 settings=$3 pattern=$4 marks=$5 code=0
  echo "--- $name"
  rm -rf "$dir_unix"
  mkdir -p "$dir_unix"
  cp "$build/Clearon.exe" "$build/test-programs/test_uninstaller.exe" "$dir_unix/"
  printf '[Settings]\r\n%bRunBeforeRemoval=C:\\clearon-no-display\\test_uninstaller.exe /mark=C:\\clearon-no-display\\marks.txt\r\n[ProductNames]\r\n[UninstallPaths]\r\n' \
    "$settings" >"$dir_unix/Clearon.ini"
  (cd "$dir_unix" && timeout 180 wine Clearon.exe) || code=$?
  [ "$code" -ne 124 ] || fail "$name: Clearon.exe did not end within 180 s"
  [ "$code" -eq "$expected" ] || fail "$name: exit code $code, expected $expected; log: $(log_text)"
  log_text | grep -q "$pattern" || fail "$name: the log lacks '$pattern': $(log_text)"
  log_text | grep -q ' Clearon stopping!' || fail "$name: no stop line: $(log_text)"
  if [ "$marks" = yes ]; then
    [ -f "$dir_unix/marks.txt" ] || fail "$name: the program before the removal did not run"
  else
    [ ! -f "$dir_unix/marks.txt" ] || fail "$name: a program ran although nothing may be done"
  fi
}

# `wine` returns the exit code modulo 256: 1459 arrives as 179.
run_case "dialog waiting for Start" 179 'ShowGUI=Y\r\n' \
  'The dialog could not be created (error [0-9]*); nothing can press Start' no
run_case "automatic run" 0 'ShowGUI=Y\r\nAutoRunAfterUILoads=Y\r\n' \
  'The dialog could not be created (error [0-9]*); AutoRunAfterUILoads=Y' yes
echo "PASS"

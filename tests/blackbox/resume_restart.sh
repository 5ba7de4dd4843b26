#!/usr/bin/env bash
# The resume cycle across a logon and a restart, in the test prefix:
#   1. the tool is registered in the current user's RunOnce key with its
#      volatile reboot marker (as at the end of a run that launched Aegira's
#      installer without success);
#   2. a logon without a restart runs the RunOnce command: the tool relaunches
#      itself, finds the marker, waits and registers again, without a run;
#   3. a restart (wineserver -k, wineboot) drops the volatile marker; the next
#      logon's command relaunches the tool into a real (resumed) run;
#   4. a marker key that already existed as an ordinary key survives the
#      restart, and the tool keeps deferring.
# Wine does not run the current user's RunOnce at logon, so this script plays
# the logon: read the value, delete it, run it.
set -eu
# shellcheck source=lib/wine_session.sh
. "$(dirname "$0")/lib/wine_session.sh"

dir_unix="$WINEPREFIX/drive_c/clearon-resume-restart"
dir_win='C:\clearon-resume-restart'
exe_win="$dir_win\\Clearon.exe"
log_unix="$dir_unix/Clearon.$(hostname | tr '[:lower:]' '[:upper:]').log"

cleanup() {
  wine reg delete "$user_runonce" /v Clearon /f >/dev/null 2>&1 || true
  wine reg delete "$tessaral_key" /f >/dev/null 2>&1 || true
  rm -rf "$dir_unix"
  restart
}
trap cleanup EXIT

# The logon: take the value out of RunOnce and run it (the path has no blanks,
# so dropping its quotes and splitting at blanks is what Windows does).
play_logon() {
  local command
  command=$(runonce_value)
  [ -n "$command" ] || fail "no RunOnce value to run at logon"
  wine reg delete "$user_runonce" /v Clearon /f >/dev/null
  command=${command//\"/}
  # shellcheck disable=SC2086 # the command is split as Windows would
  timeout 60 wine $command || fail "the RunOnce start did not end with 0"
}

registered_again() { [ "$(runonce_value)" = "\"$exe_win\" /RunOnce  /q" ]; }
run_ended() { log_text | grep -q ' Clearon stopping!'; }

register() {
  CLEARON_RESUME_EXE="$exe_win" timeout 120 wine "$build/tests/reboot_resume_wine_test.exe" \
    --gtest_filter='RebootResumeRestartScenario.*' >/dev/null || fail "registration step failed"
  [ "$(runonce_value)" = "\"$exe_win\" /RunOnce /q" ] || fail "RunOnce holds '$(runonce_value)'"
  marker_present || fail "no reboot marker after the registration"
}

mkdir -p "$dir_unix"
cp "$build/Clearon.exe" "$dir_unix/"
printf '[Settings]\r\nShowGUI=N\r\nEnableLogging=Y\r\n[ProductNames]\r\n' >"$dir_unix/Clearon.ini"
wine reg add "$user_runonce" /f >/dev/null  # a fresh Wine prefix lacks it

echo "--- registration and a logon without a restart"
register
play_logon
wait_for 30 registered_again || fail "the deferred start did not register again: '$(runonce_value)'"
[ ! -f "$log_unix" ] || fail "a deferred start must not run: $(log_text)"

echo "--- restart, then the next logon runs the tool"
restart
! marker_present || fail "the volatile marker survived the restart"
[ -n "$(runonce_value)" ] || fail "the RunOnce value did not survive the restart"
play_logon
wait_for 60 run_ended || fail "the resumed start did not run: $(log_text)"
log_text | grep -q ' Clearon starting!' || fail "no start line"
[ -z "$(runonce_value)" ] || fail "a resumed start registered again"

echo "--- an ordinary marker key survives restarts and the tool keeps deferring"
wine reg delete "$tessaral_key" /f >/dev/null 2>&1 || true
wine reg add "$marker_key" /f >/dev/null
rm -f "$log_unix"
register
restart
marker_present || fail "the marker in an ordinary key vanished at the restart"
play_logon
wait_for 30 registered_again || fail "the start after the restart did not defer: '$(runonce_value)'"
[ ! -f "$log_unix" ] || fail "a deferred start must not run: $(log_text)"

echo "PASS"

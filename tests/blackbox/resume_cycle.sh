#!/usr/bin/env bash
# The whole resume cycle of the real Clearon.exe, from a run whose installer
# needs a restart to the run after the restart that finds Aegira installed:
#   1. a silent run launches the installer stand-in (setup.exe beside the
#      tool), which takes no effect yet: Clearon registers itself in the
#      current user's RunOnce key and writes the volatile reboot marker;
#   2. a logon without a restart runs the RunOnce command: the tool relaunches
#      itself, registers again at once and after a 5-second pause, and runs
#      nothing; the deferral itself ends with 0;
#   3. a restart (wineserver -k, wineboot) drops the marker; the next logon
#      relaunches the tool into a resumed start, which is killed while the
#      program before the removal runs: it leaves the resume registered;
#   4. after another restart, the next logon's resumed start runs at once
#      although the configuration now shows the dialog without
#      AutoRunAfterUILoads: nobody presses Start, the run starts and the
#      dialog closes by itself; the installer gets Clearon's arguments
#      without the AfterRunOnce switch, now takes effect, and the cycle ends:
#      nothing is registered again;
#   5. a run whose user has no RunOnce key registers in the machine's key; a
#      logon before the restart takes the value and starts the deferral,
#      which registers the resume in that key again; Wine's boot runs it (as
#      Windows does at an administrator's logon): the resumed start runs.
# Wine does not run the current user's RunOnce at logon; logon_runonce.exe
# plays it (read the value, delete it, run its command line as stored).
set -eu
# shellcheck source=lib/wine_session.sh
. "$(dirname "$0")/lib/wine_session.sh"

aegira_key='HKLM\SOFTWARE\Tessaral\Aegira\QRC'
version='11.0.5002.333'
dir_unix="$WINEPREFIX/drive_c/clearon-resume-cycle"
dir_win='C:\clearon-resume-cycle'
exe_win="$dir_win\\Clearon.exe"
log_unix="$dir_unix/Clearon.$(hostname | tr '[:lower:]' '[:upper:]').log"
calls_unix="$dir_unix/aegira_setup_calls.txt"
logon="$build/test-programs/logon_runonce.exe"

wipe() {
  wine reg delete "$user_runonce" /v Clearon /f >/dev/null 2>&1 || true
  wine reg delete "$machine_runonce" /v Clearon /f >/dev/null 2>&1 || true
  wine reg delete "$tessaral_key" /f >/dev/null 2>&1 || true
  rm -rf "$dir_unix"
}
cleanup() {
  wipe
  restart
}
trap cleanup EXIT

log_count() { log_text | grep -c -F -- "$1" || true; }
setup_calls() { if [ -f "$calls_unix" ]; then iconv -f UTF-16LE -t UTF-8 "$calls_unix" | tr -d '\r'; fi; }
registered_again() { [ "$(runonce_value)" = "\"$exe_win\" /RunOnce  /q" ]; }
runs_ended() { [ "$(log_count ' Clearon stopping!')" -eq "$1" ]; }
program_started() { [ -f "$dir_unix/before.txt" ] && [ "$(iconv -f UTF-16LE -t UTF-8 "$dir_unix/before.txt" | grep -c pid=)" -eq "$1" ]; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

write_config() {  # ShowGUI AutoRunAfterUILoads
  printf '%s\r\n' '[Settings]' "ShowGUI=$1" "AutoRunAfterUILoads=$2" 'AskBeforeRemoval=N' \
    'ResumeAfterReboot=Y' 'EnableLogging=Y' "RunAfterRemoval=setup.exe /version=$version" \
    "RunBeforeRemoval=$dir_win\\before.exe /mark=$dir_win\\before.txt /wait-for=$dir_win\\go" \
    '[ProductNames]' >"$dir_unix/Clearon.ini"
}

wipe
mkdir -p "$dir_unix"
cp "$build/Clearon.exe" "$dir_unix/"
cp "$build/test-programs/aegira_setup_standin.exe" "$dir_unix/setup.exe"
cp "$build/test-programs/test_uninstaller.exe" "$dir_unix/before.exe"
: >"$dir_unix/aegira_setup.hold"  # the installer needs a restart first
: >"$dir_unix/go"                 # the program before the removal does not wait
write_config N N
wine reg add "$user_runonce" /f >/dev/null  # Windows has it; a fresh Wine prefix does not

echo "--- a run whose installer needs a restart registers the tool"
set +e
timeout 180 wine "$exe_win" /q
code=$?
set -e
[ "$code" -eq 0 ] || fail "the first run ended with $code"
[ "$(log_count ' Aegira is NOT installed.')" -eq 1 ] || fail "no 'NOT installed' line: $(log_text)"
[ "$(log_count " Added tool to current user's RunOnce key, please reboot to run tool again.")" -eq 1 ] ||
  fail "no RunOnce line: $(log_text)"
[ "$(runonce_value)" = "\"$exe_win\" /RunOnce /q" ] || fail "RunOnce holds '$(runonce_value)'"
marker_present || fail "no reboot marker"
[ "$(setup_calls)" = "$dir_win\\setup.exe /version=$version /q" ] || fail "installer calls: $(setup_calls)"

echo "--- a logon without a restart defers again: registered again at once, then its pause"
wine "$logon" Clearon >/dev/null || fail "the RunOnce start did not end with 0"
wait_for 30 registered_again ||
  fail "the deferred start did not register again: '$(runonce_value)'"
pause_over() { [ -z "$(reg_value "$marker_key" Deferring)" ]; }
wait_for 60 pause_over || fail "the deferral never ended its pause"
registered_again || fail "the deferral's pause lost the resume: '$(runonce_value)'"
[ "$(log_count ' Clearon starting!')" -eq 1 ] || fail "a deferred start must not run: $(log_text)"
[ "$(setup_calls | wc -l)" -eq 1 ] || fail "the installer ran again: $(setup_calls)"
marker_present || fail "the marker went without a restart"

echo "--- the deferred start on its own: 5 seconds, registered again, exit 0"
wine reg delete "$user_runonce" /v Clearon /f >/dev/null
started=$(now_ms)
set +e
timeout 60 wine "$exe_win" /AfterRunOnce /q
code=$?
set -e
waited=$(($(now_ms) - started))
[ "$code" -eq 0 ] || fail "the deferred start ended with $code"
[ "$waited" -ge 4900 ] || fail "the deferred start ended after $waited ms"
[ "$(runonce_value)" = "\"$exe_win\" /RunOnce  /q" ] || fail "RunOnce holds '$(runonce_value)'"
[ "$(log_count ' Clearon starting!')" -eq 1 ] || fail "a deferred start must not run: $(log_text)"

echo "--- a restart during a deferral's pause keeps the resume"
wine reg delete "$user_runonce" /v Clearon /f >/dev/null
setsid wine "$exe_win" /AfterRunOnce /q </dev/null >/dev/null 2>&1 &
deferring() { [ "$(reg_value "$marker_key" Deferring)" = 1 ] && [ -n "$(runonce_value)" ]; }
wait_for 60 deferring || fail "the deferral did not register before its pause"
restart  # within the pause, unless this machine took 5 seconds since

echo "--- after it, the resumed start is killed while its first program runs"
! marker_present || fail "the volatile marker survived the restart"
[ "$(runonce_value)" = "\"$exe_win\" /RunOnce  /q" ] || fail "the RunOnce value did not survive"
rm "$dir_unix/go"
wine "$logon" Clearon >/dev/null || fail "the RunOnce start did not end with 0"
wait_for 120 program_started 2 || fail "the resumed start did not reach its program: $(log_text)"
restart  # the kill, and the restart
[[ "$(runonce_value)" == "\"$exe_win\" /RunOnce "*" /q" ]] ||
  fail "the killed resumed start left no resume: RunOnce holds '$(runonce_value)'"

echo "--- the next logon runs the tool at once"
! marker_present || fail "the volatile marker survived the restart"
stored=$(runonce_value)
: >"$dir_unix/go"
rm "$dir_unix/aegira_setup.hold"  # after the restart the installer takes effect
if [ -n "${DISPLAY:-}" ]; then
  # The dialog, without the automatic start: only the resumed start's forced
  # AutoRunAfterUILoads can start the run and close the dialog.
  write_config Y N
fi
wine "$logon" Clearon >/dev/null || fail "the RunOnce start did not end with 0"
wait_for 120 runs_ended 2 || fail "the resumed start did not run to its end: $(log_text)"
[ "$(log_count ' Clearon starting!')" -eq 3 ] || fail "expected three runs: $(log_text)"
[ "$(log_count " Aegira $version is installed.")" -eq 1 ] || fail "no 'installed' line: $(log_text)"
[ "$(log_count 'RunOnce key')" -eq 1 ] || fail "registered again: $(log_text)"
calls=$(setup_calls)
[ "$(echo "$calls" | wc -l)" -eq 2 ] || fail "installer calls: $calls"
# The arguments of the RunOnce command minus the AfterRunOnce switch, blanks kept.
[ "$(echo "$calls" | sed -n 2p)" = "$dir_win\\setup.exe /version=$version ${stored#"\"$exe_win\" /RunOnce"}" ] ||
  fail "the resumed installer got '$(echo "$calls" | sed -n 2p)'"
echo "$calls" | grep -qi runonce && fail "a resume switch reached the installer: $calls"
[ "$(reg_value "$aegira_key" ProductVersion)" = "$version" ] || fail "Aegira is not installed"
sleep 1
[ -z "$(runonce_value)" ] || fail "the cycle did not end: RunOnce holds '$(runonce_value)'"
! marker_present || fail "the cycle did not end: the marker is back"

echo "--- the log of the whole cycle"
log_text

echo "--- without the user's RunOnce key: the machine's, kept through a logon and a restart"
wine reg delete "$user_runonce" /f >/dev/null
wine reg delete "$tessaral_key" /f >/dev/null  # Aegira is missing again
: >"$dir_unix/aegira_setup.hold"
rm -f "$log_unix"
write_config N N
code=0
timeout 180 wine "$exe_win" /q || code=$?
[ "$code" -eq 0 ] || fail "the run ended with $code: $(log_text)"
[ "$(log_count ' Added tool to local system RunOnce key, please reboot to run tool again.')" -eq 1 ] ||
  fail "no machine RunOnce line: $(log_text)"
[ "$(machine_runonce_value)" = "\"$exe_win\" /RunOnce /q" ] ||
  fail "the machine's RunOnce holds '$(machine_runonce_value)'"
marker_present || fail "no reboot marker"
# The logon takes the value; the deferral puts it back in the same key.
wine "$logon" Clearon /machine >/dev/null || fail "the RunOnce start did not end with 0"
machine_registered_again() { [[ "$(machine_runonce_value)" == "\"$exe_win\" /RunOnce "*" /q" ]]; }
wait_for 60 machine_registered_again ||
  fail "the deferral left no resume in the machine's key: '$(machine_runonce_value)'"
[ -z "$(runonce_value)" ] || fail "the resume moved to the user's key: '$(runonce_value)'"
marker_present || fail "the marker went without a restart"
[ "$(log_count ' Clearon starting!')" -eq 1 ] || fail "a deferred start must not run: $(log_text)"
restart  # Wine's boot runs the machine's RunOnce: the resumed start runs
wait_for 120 runs_ended 2 || fail "the machine's resume did not run: $(log_text)"
[ "$(log_count ' Clearon starting!')" -eq 2 ] || fail "expected two runs: $(log_text)"
[ "$(log_count ' Added tool to local system RunOnce key')" -eq 2 ] ||
  fail "the resumed run did not register again in the machine's key: $(log_text)"
echo "PASS"

#!/usr/bin/env bash
# Runs of the real Clearon.exe cut short, and a session that ends while a
# program runs. The boots are Wine's own: the first Wine command after
# `wineserver -k` applies PendingFileRenameOperations pair by pair as Windows
# does at boot, so files witness how often each operation ran. Two chains:
#   M, the machine's own, pending before the run:
#        delete m.txt; m.new -> m.txt; o.m -> !o.txt (replacing)
#   P, scheduled by the first program while it runs:
#        delete p.txt; p.new -> p.txt; o.p -> !o.txt
# Run once, a chain leaves its new text in m.txt or p.txt; run twice, that
# file is gone; never run, the old text stays. o.txt holds the text of the
# chain that ran last.
#   1. The run is killed (wineserver -k) while the first program waits, after
#      it scheduled P, and while the second program waits; then a boot, the
#      next start of Clearon, a boot: each chain ran exactly once. When the
#      first boot found P in the system's value while M was set aside, P ran
#      first (the one change of order that setting the list aside brings).
#      The ClearonLastRun key says "running" while the first program waits
#      (a previous run's end gone), still after the kill, and the next start
#      finishes it: done, exit code 0, the SHA-256 of the Clearon.ini it read.
#   2. The session ends while the first program waits: a test program sends
#      WM_QUERYENDSESSION and WM_ENDSESSION to Clearon's top-level windows
#      and ends nothing. The program then schedules P and ends: nothing is
#      set aside again, the second program never starts (the log says why),
#      and the boot runs M, then P.
set -eu
# shellcheck source=lib/wine_session.sh
. "$(dirname "$0")/lib/wine_session.sh"

session_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
dir_unix="$WINEPREFIX/drive_c/cs"
dir_win='C:\cs'
log_unix="$dir_unix/Clearon.$(hostname | tr '[:lower:]' '[:upper:]').log"
program="$dir_win\\t.exe"  # test_uninstaller.exe; short names keep each command within 254 characters

nt() { printf '\\??\\%s\\%s' "$dir_win" "$1"; }
chain_m="$(nt m.txt)||$(nt m.new)|$(nt m.txt)|$(nt o.m)|!$(nt o.txt)"
chain_p="$(nt p.txt)||$(nt p.new)|$(nt p.txt)|$(nt o.p)|!$(nt o.txt)"
programs=(
  "RunBeforeRemoval=$program /mark=$dir_win\\s1 /wait-for=$dir_win\\g1 /add-pending=$chain_p /mark=$dir_win\\a1 /wait-for=$dir_win\\g2"
  "RunBeforeRemoval2=$program /mark=$dir_win\\s2 /wait-for=$dir_win\\g3"
)

wipe() {
  local value
  for value in PendingFileRenameOperations PendingFileRenameOperations_Clearon \
    PendingFileRenameOperations_ClearonMove; do
    wine reg delete "$session_key" /v "$value" /f >/dev/null 2>&1 || true
  done
  rm -rf "$dir_unix"
}
cleanup() {
  wipe
  restart
}
trap cleanup EXIT

write_config() {  # program lines
  printf '%s\r\n' '[Settings]' 'ShowGUI=N' 'AskBeforeRemoval=N' 'EnableLogging=Y' "$@" \
    '[ProductNames]' 'Nothing Installed Here' '[UninstallPaths]' >"$dir_unix/Clearon.ini"
}

# A fresh folder, the chains' files, and M pending as the machine's own.
prepare() {
  local file
  rm -rf "$dir_unix"
  mkdir -p "$dir_unix"
  cp "$build/Clearon.exe" "$dir_unix/"
  cp "$build/test-programs/test_uninstaller.exe" "$dir_unix/t.exe"
  for file in m.txt=old m.new=m p.txt=old p.new=p o.m=m o.p=p; do
    printf '%s' "${file#*=}" >"$dir_unix/${file%%=*}"
  done
  wine "$dir_unix/t.exe" "/add-pending=$chain_m" >/dev/null
}

# Each witness file with its text, "-" when it is gone.
witnesses() {
  local name out=""
  for name in m.txt m.new p.txt p.new o.txt o.m o.p; do
    if [ -f "$dir_unix/$name" ]; then out+="$name=$(cat "$dir_unix/$name") "; else out+="$name=- "; fi
  done
  echo "${out% }"
}

start_in_background() {
  (cd "$dir_unix" && exec timeout 600 wine Clearon.exe) >/dev/null 2>&1 &
  clearon=$!
}
clearon_ended() { ! kill -0 "$clearon" 2>/dev/null; }
exists() { [ -e "$dir_unix/$1" ]; }
log_has() { log_text | grep -q -F -- "$1"; }
# Clearon's own values under Session Manager (set-aside list, journal).
leftovers() { wine reg query "$session_key" 2>/dev/null | tr -d '\r' | grep -o 'PendingFileRenameOperations_[A-Za-z]*' || true; }

utc='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z'
config_sha() { sha256sum "$dir_unix/Clearon.ini" | cut -d' ' -f1; }

# The next start of Clearon, without programs, runs to its end and leaves
# nothing of its own behind.
next_start() {
  local code=0
  write_config
  (cd "$dir_unix" && timeout 180 wine Clearon.exe) >/dev/null 2>&1 || code=$?
  [ "$code" -eq 0 ] || fail "$1: the next start ended with $code: $(log_text)"
  [ -z "$(leftovers)" ] || fail "$1: left after the next start: $(leftovers)"
}

wipe

# moment | files that let the programs go on | file that marks the moment | witnesses at the end
moments=(
  "while the first program waits||s1|m.txt=m m.new=- p.txt=old p.new=p o.txt=m o.m=- o.p=p"
  "after the first program scheduled P|g1|a1|m.txt=m m.new=- p.txt=p p.new=- o.txt=m o.m=- o.p=-"
  "while the second program waits|g1 g2|s2|m.txt=m m.new=- p.txt=p p.new=- o.txt=p o.m=- o.p=-"
)
for row in "${moments[@]}"; do
  IFS='|' read -r moment go mark expected <<<"$row"
  echo "--- killed $moment"
  prepare
  write_config "${programs[@]}"
  for file in $go; do : >"$dir_unix/$file"; done
  first=${first-yes}
  # A previous run's end, which this run's "running" must not stand beside.
  [ -z "$first" ] || wine reg add "$last_run_key" /v ExitCode /t REG_DWORD /d 7 /f >/dev/null
  start_in_background
  wait_for 120 exists "$mark" || fail "$moment: never reached: $(log_text)"
  [ -z "$first" ] || expect_last_run "while a program waits" Outcome=running \
    "Started=~$utc" "Version=$(cat "$build/clearon-version.txt")" "ConfigSha256=$(config_sha)" \
    '!ExitCode' '!Finished' '!ProductsRemaining'
  restart  # the kill, and the boot
  wait "$clearon" || true
  [ -z "$first" ] || expect_last_run "after the kill" Outcome=running '!ExitCode'
  next_start "$moment"
  [ -z "$first" ] || expect_last_run "after the next start" Outcome=done ExitCode=0x0 \
    ProductsRemaining=0x0 "Finished=~$utc" "ConfigSha256=$(config_sha)"
  first=
  restart
  [ "$(witnesses)" = "$expected" ] || fail "$moment: witnesses '$(witnesses)', expected '$expected'"
done

echo "--- the session ends while the first program waits"
if [ -z "${DISPLAY:-}" ]; then
  echo "no display: the end-session messages need a window"
  exit 77
fi
prepare
write_config "${programs[@]}"
start_in_background
wait_for 120 exists s1 || fail "the first program never started: $(log_text)"
wine "$dir_unix/t.exe" /end-session=Clearon.exe >/dev/null || fail "no window of Clearon got the messages"
wait_for 60 log_has ' Windows is ending the session: the pending file renames were put back.' ||
  fail "no session-end line: $(log_text)"
! clearon_ended || fail "the session-end messages ended Clearon: $(log_text)"
: >"$dir_unix/g1"
: >"$dir_unix/g2"
ended_or_went_on() { clearon_ended || exists s2; }
wait_for 120 ended_or_went_on || fail "Clearon did not end: $(log_text)"
! exists s2 || fail "a program started after the session end: $(log_text)"
log_has ' Windows is ending the session: no further program is started' ||
  fail "the log does not say why no program started: $(log_text)"
[ -z "$(leftovers)" ] || fail "left after the session end: $(leftovers)"
restart
expected='m.txt=m m.new=- p.txt=p p.new=- o.txt=p o.m=- o.p=-'
[ "$(witnesses)" = "$expected" ] || fail "witnesses '$(witnesses)', expected '$expected'"
echo "PASS"

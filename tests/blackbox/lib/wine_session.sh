# Shared by the black-box scenarios that play logons and restarts: the test
# run's Wine prefix and display, and the helpers every such scenario needs.
# Sourced, not run.
state=${CLEARON_WINE_STATE:?}
build=${CLEARON_BUILD_DIR:?}
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
[ -f "$state/display" ] && DISPLAY=$(cat "$state/display") && export DISPLAY

user_runonce='HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce'
tessaral_key='HKLM\Software\Tessaral'
marker_key='HKLM\Software\Tessaral\Clearon'

fail() { echo "FAIL: $*" >&2; exit 1; }

# A restart: volatile keys live only in the running wineserver. Afterwards a
# persistent server keeps them again for the other tests, and wineboot starts
# Wine's services here, without any test's output pipes (a service that
# inherits a test's pipe keeps it open for ever).
restart() {
  wineserver -k >/dev/null 2>&1 || true
  setsid wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot </dev/null >/dev/null 2>&1
}

reg_value() {  # key value: the data of a REG_SZ value, or nothing
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"
}
runonce_value() { reg_value "$user_runonce" Clearon; }
marker_present() { [ "$(reg_value "$marker_key" RebootRequired)" = 1 ]; }

wait_for() {  # seconds, then a test command
  local limit=$1
  shift
  for _ in $(seq 1 $((limit * 5))); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

# The run log of the folder in $log_unix, as text.
log_text() { if [ -f "$log_unix" ]; then iconv -f UTF-16LE -t UTF-8 "$log_unix" | tr -d '\r'; fi; }

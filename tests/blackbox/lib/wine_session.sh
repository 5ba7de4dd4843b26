# Shared by the black-box scenarios that play logons and restarts: the test
# run's Wine prefix and display, and the helpers every such scenario needs.
# Sourced, not run.

. "$(dirname "${BASH_SOURCE[0]}")/error_trap.sh"
state=${CLEARON_WINE_STATE:?}
build=${CLEARON_BUILD_DIR:?}
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
[ -f "$state/display" ] && DISPLAY=$(cat "$state/display") && export DISPLAY

user_runonce='HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce'
machine_runonce='HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
tessaral_key='HKLM\Software\Tessaral'
marker_key='HKLM\Software\Tessaral\Clearon'

fail() { echo "FAIL: $*" >&2; exit 1; }

# A restart: volatile keys live only in the running wineserver. Afterwards a
# persistent server keeps them again for the other tests, and wineboot starts
# Wine's services here, without any test's output pipes (a service that
# inherits a test's pipe keeps it open for ever).
restart() {
  wineserver -k >/dev/null 2>&1 || true
  start_session
}

# A session with a persistent server, started only once no server of the
# prefix is left: `wineserver -k` stops waiting for the old one after a few
# seconds on a slow machine, and a server that Wine started on its own goes
# down 3 seconds after its last process. A `wineserver -p` that meets either
# changes nothing, and the test's next Wine command then meets a server that
# is going down.
start_session() {
  local attempt
  for attempt in 1 2 3 4 5; do
    timeout 120 wineserver -w >/dev/null 2>&1 || true
    setsid wineserver -p </dev/null >/dev/null 2>&1 && break
    [ "$attempt" -lt 5 ] || fail "no persistent wineserver could be started"
  done
  wineboot </dev/null >/dev/null 2>&1
}

# Is the prefix's session held by the persistent server that start_session
# starts? A server that Wine started on its own (Debian's with -p0) goes down
# the moment its last process ends, with the volatile keys, and a Wine command
# that meets it going down may fail without a word.
session_persistent() {
  local device inode name pid
  read -r device inode < <(stat -c '%d %i' "$WINEPREFIX")
  name=$(printf 'server-%x-%x' "$device" "$inode")
  for pid in $(pgrep wineserver || true); do
    [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$name" ] || continue
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- ' -p $' && return 0
  done
  return 1
}

reg_value() {  # key value: the data of a REG_SZ value, or nothing
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"
}
runonce_value() { reg_value "$user_runonce" Clearon; }
machine_runonce_value() { reg_value "$machine_runonce" Clearon; }

marker_present() { [ "$(reg_value "$marker_key" RebootRequired)" = 1 ]; }

# What the last run left in HKLM\Software\Tessaral\ClearonLastRun: one
# "name=data" a line, a DWORD as reg shows it (0x...).
last_run_key='HKLM\Software\Tessaral\ClearonLastRun'
last_run() {
  wine reg query "$last_run_key" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *\([A-Za-z0-9]*\) *REG_[A-Z_]* *\(.*\)$/\1=\2/p'
}
# Fails unless the key holds every "name=data" given and no value of a
# "!name" given; "name=~REGEX" matches the data against an extended regex.
expect_last_run() {  # what, then the expectations
  local what=$1 values expected name
  shift
  values=$(last_run)
  for expected in "$@"; do
    case $expected in
      !*) ! grep -q "^${expected#!}=" <<<"$values" || fail "$what: ${expected#!} is set: $values" ;;
      *=~*)
        name=${expected%%=~*}
        grep -qE "^$name=(${expected#*=~})\$" <<<"$values" || fail "$what: no $expected: $values"
        ;;
      *) grep -qxF -- "$expected" <<<"$values" || fail "$what: no $expected: $values" ;;
    esac
  done
}

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

# Whatever the test before left, this one starts in a persistent session.
if ! session_persistent; then
  echo "note: the prefix had no persistent wineserver; starting one" >&2
  restart
fi

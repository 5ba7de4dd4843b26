#!/usr/bin/env bash
# Prepares and tears down the Wine side of a test run:
#   wine-env.sh start STATE   fresh prefix, an Xvfb display, a persistent wineserver
#   wine-env.sh stop STATE    ends every Wine process of the prefix and the display
# The prefix is thrown away and made anew at every start, so no test sees what
# an earlier run left behind.
set -eu
action=${1:?start or stop}
state=${2:?state folder}
mkdir -p "$state"
state=$(cd "$state" && pwd)
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all

start_display() {
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      echo $! >"$state/xvfb.pid"
      for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      echo ":$n" >"$state/display"
      return 0
    fi
  done
  echo "no free X display" >&2
  return 1
}

case "$action" in
  start)
    if [ -d "$WINEPREFIX" ]; then
      wineserver -k >/dev/null 2>&1 || true
      rm -rf "$WINEPREFIX"
    fi
    if [ -f "$state/xvfb.pid" ]; then
      kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
      rm -f "$state/xvfb.pid" "$state/display"
    fi
    start_display
    DISPLAY=$(cat "$state/display")
    export DISPLAY
    # A persistent wineserver keeps volatile keys for the whole test run; the
    # tests that play a restart stop and start it themselves.
    setsid wineserver -p </dev/null >/dev/null 2>&1 || true
    wineboot -i </dev/null >/dev/null 2>&1
    echo "Wine prefix ready: $WINEPREFIX on display $DISPLAY"
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    if [ -f "$state/xvfb.pid" ]; then
      kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
      rm -f "$state/xvfb.pid" "$state/display"
    fi
    echo "Wine prefix stopped: $WINEPREFIX"
    ;;
  *)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac

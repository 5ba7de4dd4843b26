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
  # Xvfb picks a free display itself and writes its number to -displayfd once
  # it accepts clients: several test runs on one machine never race for a
  # number, and the display is up before the first Wine process starts.
  local fifo="$state/displayfd" n=""
  rm -f "$fifo"
  mkfifo "$fifo"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 3>"$fifo" &
  echo $! >"$state/xvfb.pid"
  read -r -t 60 n <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$n" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  echo ":$n" >"$state/display"
}

case "$action" in
  start)
    # A program of an earlier run that was itself stopped may still start a
    # server in the old prefix and write into it while it goes: stop and
    # remove it again until it is gone.
    for _ in 1 2 3 4 5; do
      [ -d "$WINEPREFIX" ] || break
      wineserver -k >/dev/null 2>&1 || true
      # -k stops waiting after a few seconds on a slow machine: the old
      # server must be gone before its prefix is, and before the new one.
      timeout 120 wineserver -w >/dev/null 2>&1 || true
      rm -rf "$WINEPREFIX" 2>/dev/null || sleep 1
    done
    if [ -d "$WINEPREFIX" ]; then
      echo "the old prefix $WINEPREFIX could not be removed" >&2
      exit 1
    fi
    if [ -f "$state/xvfb.pid" ]; then
      kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
      rm -f "$state/xvfb.pid" "$state/display"
    fi
    start_display
    DISPLAY=$(cat "$state/display")
    export DISPLAY
    wineboot -i </dev/null >/dev/null 2>&1
    # A persistent wineserver keeps volatile keys for the whole test run; the
    # tests that play a restart stop and start it themselves. It runs in the
    # prefix's folder, so it starts once the prefix exists (Wine makes the
    # prefix itself: one made beforehand lacks syswow64), after the server
    # that Wine started for the set-up has gone; then a boot.
    timeout 120 wineserver -w >/dev/null 2>&1 || true
    if ! setsid wineserver -p </dev/null >/dev/null 2>&1; then
      echo "no persistent wineserver could be started for $WINEPREFIX" >&2
      exit 1
    fi
    wineboot </dev/null >/dev/null 2>&1
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

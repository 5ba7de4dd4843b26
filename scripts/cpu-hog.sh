#!/usr/bin/env bash
# Keeps every core busy, to show that the tests pass on a loaded machine.
#   cpu-hog.sh start   one busy loop per core (at nice 0), their ids in the pid file
#   cpu-hog.sh stop    ends exactly the loops the pid file names
# The pid file is $CLEARON_HOG_PIDFILE, by default build/cpu-hog.pids.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
pidfile=${CLEARON_HOG_PIDFILE:-$root/build/cpu-hog.pids}

start() {
  if [ -s "$pidfile" ]; then
    echo "cpu-hog: already running (pids in $pidfile)" >&2
    exit 1
  fi
  mkdir -p "$(dirname "$pidfile")"
  : >"$pidfile"
  for _ in $(seq 1 "$(nproc)"); do
    nice -n 0 bash -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    echo $! >>"$pidfile"
  done
  echo "cpu-hog: $(wc -l <"$pidfile") busy loops started"
}

stop() {
  [ -f "$pidfile" ] || return 0
  local pid
  while read -r pid; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  done <"$pidfile"
  rm -f "$pidfile"
  echo "cpu-hog: stopped"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac

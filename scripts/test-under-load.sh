#!/usr/bin/env bash
# The load proof: runs the whole test command N times in a row (default 3)
# while scripts/cpu-hog.sh keeps every core busy, then once more on a quiet
# machine. Prints one line per run and exits non-zero if any run failed.
# Each run's output goes to build/under-load/run-<k>.log.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
logs=${CLEARON_BUILD_ROOT:-$root/build}/under-load
mkdir -p "$logs"

hog_running=0
stop_hog() {
  if [ "$hog_running" = 1 ]; then
    "$root/scripts/cpu-hog.sh" stop >/dev/null
    hog_running=0
  fi
}
trap stop_hog EXIT
trap 'stop_hog; exit 130' INT TERM

summary=()
failed=0
run() {  # run LABEL LOG
  local label=$1 log=$2 started rc
  started=$(date +%s)
  bash "$root/scripts/test-all.sh" >"$log" 2>&1
  rc=$?
  local total
  total=$(grep -E '^Total: ' "$log" | tail -n 1)
  summary+=("$label: $([ "$rc" -eq 0 ] && echo PASS || echo FAIL) in $(($(date +%s) - started)) s (${total:-no total}) - $log")
  [ "$rc" -eq 0 ] || failed=1
  echo "${summary[-1]}"
}

"$root/scripts/cpu-hog.sh" start >/dev/null || exit 1
hog_running=1
for k in $(seq 1 "$runs"); do
  run "run $k of $runs under load" "$logs/run-$k.log"
done
stop_hog
run "quiet run" "$logs/run-quiet.log"

echo
printf '%s\n' "${summary[@]}"
exit $failed

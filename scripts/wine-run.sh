#!/usr/bin/env bash
# Runs a Windows program under Wine in the test run's prefix and display.
# ctest calls this for every cross-compiled test (CMAKE_CROSSCOMPILING_EMULATOR);
# CLEARON_WINE_STATE names the folder that scripts/wine-env.sh prepared.
set -u
state=${CLEARON_WINE_STATE:?CLEARON_WINE_STATE must name the prepared Wine state folder}
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
if [ -f "$state/display" ]; then
  DISPLAY=$(cat "$state/display")
  export DISPLAY
fi
exec wine "$@"

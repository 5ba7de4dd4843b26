#!/usr/bin/env bash
# Clearon's whole job on a sample workstation, under Wine:
#   1. builds Clearon.exe and the stand-ins the demo needs (a Windows Installer
#      package, an NSIS product, a scriptable uninstaller, an installer
#      stand-in for Aegira);
#   2. prepares a fresh Wine prefix as a workstation with three competing
#      products really installed;
#   3. puts Clearon.exe, a Clearon.ini naming those products and setup.exe
#      (the stand-in for Aegira's installer) side by side and runs Clearon
#      silently, as a deployment system would;
#   4. shows the products before and after, the run log, the exit code and
#      what Aegira's installer received.
# Runs on a fresh Debian machine as root (missing packages are installed).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CLEARON_BUILD_ROOT:-$root/build}
"$root/scripts/install-deps.sh"

echo "=== Building Clearon.exe and the sample products"
cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null 2>&1
cmake --build "$build/win" -j"$(nproc)" --target Clearon test_uninstaller aegira_setup_standin \
  clearon_fixture_installers >/dev/null
programs="$build/win/test-programs"

state="$build/demo"
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
unset DISPLAY  # a silent run needs no screen
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

echo "=== Preparing a sample workstation (fresh Wine prefix)"
stop_wine
rm -rf "$state"
mkdir -p "$state"
# One wineserver for the whole demo instead of one per command.
setsid wineserver -p </dev/null >/dev/null 2>&1 || true
wineboot -i </dev/null >/dev/null 2>&1
drive_c="$WINEPREFIX/drive_c"
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'

echo "Installing Zebratech Antivirus Test (Windows Installer package)"
wine msiexec /i "$(winepath -w "$programs/zebratech_antivirus.msi")" /qn
echo "Installing Quokka Shield Test (NSIS setup; its uninstaller relaunches itself)"
wine "$programs/quokka_shield_setup.exe" /S
echo "Installing Wombat Guard Test (an uninstaller that removes its own entry)"
wombat_dir="$drive_c/Program Files/Wombat Guard Test"
mkdir -p "$wombat_dir"
cp "$programs/test_uninstaller.exe" "$wombat_dir/uninstall.exe"
wine reg add "$uninstall_key\\WombatGuardTest" /v DisplayName /d 'Wombat Guard Test' /f >/dev/null
wine reg add "$uninstall_key\\WombatGuardTest" /v Publisher /d 'Wombat Test Software' /f >/dev/null
wine reg add "$uninstall_key\\WombatGuardTest" /v UninstallString /f \
  /d '"C:\Program Files\Wombat Guard Test\uninstall.exe" /sleep=1000 /delete-key=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\WombatGuardTest' \
  >/dev/null

# Display names of the Uninstall entries, 64-bit and 32-bit views.
installed_products() {
  local key
  for key in "$uninstall_key" 'HKLM\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'; do
    wine reg query "$key" /s /v DisplayName 2>/dev/null | tr -d '\r' |
      sed -n 's/^ *DisplayName *REG_SZ *//p'
  done | sort | sed 's/^/    /'
}
aegira_version() {
  wine reg query 'HKLM\SOFTWARE\Tessaral\Aegira\QRC' /v ProductVersion 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *ProductVersion *REG_SZ *//p'
}

tool="$drive_c/ClearonDemo"
mkdir -p "$tool"
cp "$build/win/Clearon.exe" "$tool/"
cp "$programs/aegira_setup_standin.exe" "$tool/setup.exe"
printf '%s\r\n' \
  '; Clearon.ini for the sample workstation (see examples/Clearon.ini for every setting).' \
  '[Settings]' \
  'ShowGUI=N' \
  'AskBeforeRemoval=N' \
  'SilentMSIInstaller=Y' \
  'ResumeAfterReboot=Y' \
  'EnableLogging=Y' \
  '; NSIS uninstallers run silently with /S.' \
  'DefaultExtraParameters=/S' \
  '; Before the removal: keep a copy of the uninstall registry.' \
  'RunBeforeRemoval=reg.exe export HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall uninstall-before.reg /y' \
  '; Aegira'"'"'s installer, beside Clearon.exe. This stand-in installs the version it is given.' \
  'RunAfterRemoval=setup.exe /version=11.0.5002.333' \
  '[ProductNames]' \
  'Zebratech Antivirus' \
  'Quokka Shield' \
  'Wombat Guard' \
  >"$tool/Clearon.ini"

echo
echo "=== Installed before the run"
installed_products
version=$(aegira_version)
echo "    Aegira: ${version:-not installed}"
echo
echo "=== C:\\ClearonDemo\\Clearon.ini"
tr -d '\r' <"$tool/Clearon.ini" | sed 's/^/    /'
echo
echo "=== Running C:\\ClearonDemo\\Clearon.exe /quiet (silently, as a deployment would)"
started=$(date +%s)
set +e
timeout 600 wine 'C:\ClearonDemo\Clearon.exe' /quiet
code=$?
set -e
echo "    (took $(($(date +%s) - started)) s)"
echo
echo "=== Exit code: $code"
for log in "$tool"/Clearon.*.log "$tool"/Clearon_Err.log; do
  [ -f "$log" ] || continue
  echo
  echo "=== $(basename "$log")"
  iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' | sed 's/^/    /'
done
echo
echo "=== Installed after the run"
products=$(installed_products)
if [ -n "$products" ]; then echo "$products"; else echo "    (none of the competing products)"; fi
version=$(aegira_version)
echo "    Aegira: ${version:-not installed}"
if [ -f "$tool/aegira_setup_calls.txt" ]; then
  echo
  echo "=== Aegira's installer was started as"
  iconv -f UTF-16LE -t UTF-8 "$tool/aegira_setup_calls.txt" | tr -d '\r' | sed 's/^/    /'
fi
exit "$code"

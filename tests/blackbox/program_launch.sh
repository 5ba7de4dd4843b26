#!/usr/bin/env bash
# The real Clearon.exe, in one run, against programs an ordinary user could
# have placed or changed:
#   - a per-user Windows Installer registration whose InstallLocation holds a
#     planted frminst.exe: the folder is not used, a line says why;
#   - an uninstaller whose file is `chmod o+w`, and one whose folder is: under
#     Wine the DACL follows the Unix mode (Everyone gains write), so neither
#     runs, a line names the right, both count as not removed (exit 1);
#   - an uninstaller in an ordinary folder still runs;
#   - a `setup.exe` found only on PATH (WINEPATH) never runs;
#   - the lasting folder of the event message file, made `chmod o+w`
#     beforehand, is refused with one line, and the exit code stays.
set -eu
# shellcheck source=lib/wine_session.sh
. "$(dirname "$0")/lib/wine_session.sh"

uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
user_sid='S-1-5-21-1-2-3-1001'
user_data="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\$user_sid"
lt_unix="$WINEPREFIX/drive_c/lt"
events_unix="$WINEPREFIX/drive_c/Program Files/Tessaral"
log_unix="$lt_unix/clearon/Clearon.$(hostname | tr '[:lower:]' '[:upper:]').log"
marks_unix="$lt_unix/marks.txt"

wipe() {
  for name in LaunchTestFile LaunchTestFolder LaunchTestPlain; do
    wine reg delete "$uninstall\\$name" /f >/dev/null 2>&1 || true
  done
  wine reg delete "$user_data" /f >/dev/null 2>&1 || true
  rm -rf "$lt_unix" "$events_unix"
}
trap wipe EXIT
wipe

# An uninstaller in C:\lt\<folder> that marks its run and removes its entry.
add_product() {  # key name, display name, folder
  mkdir -p "$lt_unix/$3"
  cp "$build/test-programs/test_uninstaller.exe" "$lt_unix/$3/u.exe"
  chmod 0755 "$lt_unix/$3" "$lt_unix/$3/u.exe" # whatever the build's umask was
  wine reg add "$uninstall\\$1" /v DisplayName /d "$2" /f >/dev/null
  wine reg add "$uninstall\\$1" /v UninstallString /f >/dev/null \
    /d "C:\\lt\\$3\\u.exe /name=$1 /mark=C:\\lt\\marks.txt /delete-key=$uninstall\\$1"
}
add_product LaunchTestFile 'Launch Test File' file
add_product LaunchTestFolder 'Launch Test Folder' folder
add_product LaunchTestPlain 'Launch Test Plain' plain
chmod o+w "$lt_unix/file/u.exe" "$lt_unix/folder"
mkdir -p "$events_unix/Clearon"
chmod 0755 "$events_unix" "$events_unix/Clearon" # whatever the umask was
chmod o+w "$events_unix/Clearon"

# A user's own per-user install of "McAfee Agent", with frminst.exe planted
# in the folder it names; its uninstaller itself is an ordinary one.
mkdir -p "$lt_unix/user"
cp "$build/test-programs/test_uninstaller.exe" "$lt_unix/user/frminst.exe"
properties="$user_data\\Products\\LTAGENT\\InstallProperties"
wine reg add "$properties" /v DisplayName /d 'McAfee Agent Launch Test' /f >/dev/null
wine reg add "$properties" /v InstallLocation /d 'C:\lt\user\' /f >/dev/null
wine reg add "$properties" /v UninstallString /f >/dev/null \
  /d "C:\\lt\\plain\\u.exe /name=agent /mark=C:\\lt\\marks.txt /delete-key=$user_data"

# setup.exe is on PATH only.
mkdir -p "$lt_unix/path" "$lt_unix/clearon"
cp "$build/test-programs/test_uninstaller.exe" "$lt_unix/path/setup.exe"
cp "$build/Clearon.exe" "$lt_unix/clearon/"
printf '%s\r\n' '[Settings]' 'ShowGUI=N' 'AskBeforeRemoval=N' 'ResumeAfterReboot=N' \
  'EnableLogging=Y' 'RunAfterRemoval=setup.exe /name=setup /mark=C:\lt\marks.txt' \
  '[ProductNames]' 'Launch Test' 'McAfee Agent' '[UninstallPaths]' >"$lt_unix/clearon/Clearon.ini"

set +e
WINEPATH='C:\lt\path' timeout 180 wine 'C:\lt\clearon\Clearon.exe'
code=$?
set -e

log_has() { log_text | grep -q -F -- "$1"; }
marks() { if [ -f "$marks_unix" ]; then iconv -f UTF-16LE -t UTF-8 "$marks_unix" | cut -d' ' -f1 | tr -d '\r' | sort | tr '\n' ' '; fi; }
[ "$code" -eq 1 ] || fail "the run ended with $code, not 1: $(log_text)"
[ "$(marks)" = "LaunchTestPlain agent " ] || fail "ran: '$(marks)'; log: $(log_text)"
refused=' Not running a program that others than administrators can change ('
log_has "${refused}S-1-1-0 may write C:\\lt\\file\\u.exe): C:\\lt\\file\\u.exe" ||
  fail "no refusal of the writable file: $(log_text)"
log_has "${refused}S-1-1-0 may add files to C:\\lt\\folder): C:\\lt\\folder\\u.exe" ||
  fail "no refusal of the writable folder: $(log_text)"
for name in 'Launch Test File' 'Launch Test Folder'; do
  log_has " Failed to remove $name" || fail "$name is not counted as not removed: $(log_text)"
done
log_has ' Failed to remove Launch Test Plain' && fail "the plain uninstaller's product stayed"
log_has " Not using the InstallLocation of McAfee Agent Launch Test (C:\\lt\\user\\): it is registered for user $user_sid" ||
  fail "no line about the per-user location: $(log_text)"
log_has 'frminst.exe' && fail "frminst.exe was looked at: $(log_text)"
log_has ' Not running a program found neither beside Clearon.exe nor in the system folders: setup.exe /name=setup' ||
  fail "setup.exe was not refused: $(log_text)"
log_has " Clearon's event message file was not written: S-1-1-0 may add files to C:\\Program Files\\Tessaral\\Clearon" ||
  fail "the writable event message folder was not refused: $(log_text)"
[ -e "$events_unix/Clearon/ClearonEvents.dll" ] && fail "the message file was written"
echo "program launch checks passed"

#!/usr/bin/env bash
# The installer under Wine, as a user runs it: a silent install, the files,
# the Start-menu shortcut and the uninstall entry; the installed program
# answers --version; installing again while it runs ends it first; the
# uninstall entry's silent uninstall ends it too, removes the program and the
# start with Windows, and leaves the user's settings folder alone.
#
#   installer_test.sh <installer> <program file name> <version>
#
# The console companion (Tavren3.com) is installed and removed beside it.
#
# Uses the Wine prefix of the environment (WINEPREFIX), as the other tests.
set -euo pipefail

setup=$1 program=$2 version=$3
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavren3'

fail() { echo "installer_test: $*" >&2; exit 1; }
# A Windows folder of the current user as a Unix path.
user_folder() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')" | sed 's:/$::'; }
# Wine's `reg query` lines: "    <name>    REG_SZ    <data>".
reg_value() { wine reg query "$key" /v "$1" | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }

appdata=$(user_folder APPDATA)
install_dir=$(user_folder LOCALAPPDATA)/Programs/Tavren3
programs="$appdata/Microsoft/Windows/Start Menu/Programs"
shortcut="$programs/Tavren3.lnk"
# The Startup folder, as Wine spells it when it has made it.
startup_dir=$(find "$programs" -maxdepth 1 -iname startup | head -n1)
startup=${startup_dir:-$programs/StartUp}/Tavren.lnk
start_key='HKCU\Software\QUORVALE\Tavren3\Tavren'

# The user's settings, there before the install (an earlier version's, say).
settings=$appdata/QUORVALE/Tavren3
keep=$settings/installer-test.keep
made_settings=0
[ -d "$settings" ] || { mkdir -p "$settings"; made_settings=1; }
data=$(mktemp -d)
tray=
cleanup() {
    [ -z "$tray" ] || kill "$tray" 2>/dev/null || true
    rm -rf "$data"
    rm -f "$keep" "$startup"
    wine reg delete "$start_key" /f >/dev/null 2>&1 || true
    [ "$made_settings" = 0 ] || rmdir "$settings" "${settings%/*}" 2>/dev/null || true
}
trap cleanup EXIT
echo kept >"$keep"

# The installed program running as the tray, with a data folder of its own:
# it has started once it has locked that folder.
start_tray() {
    rm -f "$data/tavren3.lock"
    wine "$install_dir/$program" --data-dir "$(winepath -w "$data")" </dev/null >/dev/null 2>&1 &
    tray=$!
    for _ in $(seq 150); do
        [ -e "$data/tavren3.lock" ] && return
        sleep 0.2
    done
    fail "the installed program did not start"
}
tray_ended() {
    for _ in $(seq 100); do
        kill -0 "$tray" 2>/dev/null || { wait "$tray" || true; tray=; return 0; }
        sleep 0.2
    done
    return 1
}

wine "$setup" /S
for f in "$program" "${program%.exe}.com" readme-ja.txt help/index.html Uninstall.exe; do
    [ -f "$install_dir/$f" ] || fail "not installed: $f"
done
[ -f "$shortcut" ] || fail "no Start-menu shortcut"
# The link holds its target's path in UTF-16: without the zero bytes it reads as text.
tr -d '\0' <"$shortcut" | grep -qiF "Tavren3\\$program" || fail "the shortcut does not name $program"

location=$(reg_value InstallLocation)
[ "$(winepath -u "$location" | sed 's:/$::')" = "$install_dir" ] ||
    fail "uninstall entry: InstallLocation is '$location'"
[ "$(reg_value DisplayName)" = Tavren3 ] || fail "uninstall entry: no DisplayName"

answer=$(wine "$install_dir/$program" --version | tr -d '\r')
[[ "$answer" == *" Version $version" ]] || fail "--version answered '$answer', not version $version"

start_tray
wine "$setup" /S || fail "installing again while the program runs failed"
tray_ended || fail "installing again left the running program running"
[ -f "$install_dir/$program" ] || fail "installing again lost $program"

# The start with Windows chosen, as the program leaves it: the choice in
# the registry and a shortcut in the Startup folder.
wine reg add "$start_key" /v nStart /t REG_DWORD /d 1 /f >/dev/null
mkdir -p "${startup%/*}"
cp "$shortcut" "$startup"
start_tray

# The uninstaller runs a copy of itself from the temporary folder and
# returns at once: wait for the copy's work.
quiet=$(reg_value QuietUninstallString)
uninstaller=$(sed -n 's/^"\(.*\)" \/S$/\1/p' <<<"$quiet")
[ -n "$uninstaller" ] || fail "uninstall entry: QuietUninstallString is '$quiet'"
wine "$uninstaller" /S
for _ in $(seq 100); do
    [ -e "$install_dir" ] || break
    sleep 0.2
done
[ ! -e "$install_dir" ] || fail "left after uninstalling: $(cd "$install_dir" && find . | tr '\n' ' ')"
tray_ended || fail "uninstalling left the running program running"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is left"
[ ! -e "$startup" ] || fail "the Startup shortcut is left"
! wine reg query "$start_key" /v nStart >/dev/null 2>&1 || fail "the start choice is left"
! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is left"
[ "$(cat "$keep")" = kept ] || fail "the settings folder was touched"
echo "installer_test: installed, started, installed over the running program and uninstalled"

#!/usr/bin/env bash
# The installer under Wine, as a user runs it: a silent install, the files,
# the Start-menu shortcut and the uninstall entry; the installed program
# answers --version; the uninstall entry's silent uninstall removes the
# program and leaves the user's settings folder alone.
#
#   installer_test.sh <installer> <program file name> <version>
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
shortcut="$appdata/Microsoft/Windows/Start Menu/Programs/Tavren3.lnk"

# The user's settings, there before the install (an earlier version's, say).
settings=$appdata/QUORVALE/Tavren3
keep=$settings/installer-test.keep
made_settings=0
[ -d "$settings" ] || { mkdir -p "$settings"; made_settings=1; }
cleanup() {
    rm -f "$keep"
    [ "$made_settings" = 0 ] || rmdir "$settings" "${settings%/*}" 2>/dev/null || true
}
trap cleanup EXIT
echo kept >"$keep"

wine "$setup" /S
for f in "$program" readme-ja.txt help/index.html Uninstall.exe; do
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
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is left"
! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is left"
[ "$(cat "$keep")" = kept ] || fail "the settings folder was touched"
echo "installer_test: installed, started and uninstalled"

#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# but only those that are missing: a second run costs a few dpkg queries.
# With arguments it installs those packages instead (the other scripts'
# own needs: the screenshots, fuzzing, the Windows build).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config make
    libgtest-dev
    libasound2-dev
    qt6-base-dev
    inotify-tools
    bindfs fuse3  # the folder scenarios' stand-in for a network share
    strace  # the move's system calls failed one at a time
    qt6-translations-l10n  # Qt's own texts (buttons, file choosers) in Japanese
    xdg-utils  # xdg-open: the help page and the files that entries open
    desktop-file-utils libglib2.0-bin  # the autostart entry's test: validator, and gio to start it
    dpkg-dev lintian appstream  # the Debian packages: dependencies read from the programs, and their checks
    # The tray program's desktop test: a virtual display, a window manager,
    # a panel with a notification area, and Qt's X11 platform.
    xvfb openbox trayer xdotool x11-utils qt6-qpa-plugins
)
[[ $# -eq 0 ]] || packages=("$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

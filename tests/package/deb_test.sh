#!/usr/bin/env bash
# The Debian packages as a user gets them: made by cpack from the build
# folder's install rules, checked for their files and dependencies,
# unpacked into a throw-away root where the watcher runs against a real
# folder, and checked by lintian, the desktop-entry and AppStream
# validators, man and systemd; their removal script is run beside a
# running watcher.
#
# Usage: deb_test.sh BUILD_DIR VERSION
set -euo pipefail
usage="usage: deb_test.sh BUILD_DIR VERSION"
build=$(cd "${1:?$usage}" && pwd)
version=${2:?$usage}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
watcher=
cleanup() {
    if [[ -n $watcher ]]; then kill -KILL "$watcher" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "skipped: $*"; }
wait_for() {  # SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

command -v dpkg-shlibdeps >/dev/null || fail "dpkg-shlibdeps is missing (Debian package dpkg-dev)"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
desktop=$(echo "$work/out/tavren3_${version}-"*"_$arch.deb")
headless=$(echo "$work/out/tavren3-headless_${version}-"*"_$arch.deb")
[[ -f $desktop && -f $headless ]] || fail "packages missing; cpack made: $(ls "$work/out")"

# Exactly these files, nothing from another package or a stray install rule.
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort; }
expect_files() {  # DEB FILE...
    local deb=$1; shift
    diff <(printf '%s\n' "$@" | sort) <(files "$deb") ||
        fail "$(basename "$deb"): files differ from the expected ones (< expected, > packed)"
}
icons=()
for s in 16 22 24 32 48 64 128 256; do icons+=("/usr/share/icons/hicolor/${s}x$s/apps/tavren3.png"); done
expect_files "$desktop" /usr/bin/tavren3 /usr/share/applications/tavren3.desktop \
    /usr/share/metainfo/io.github.tavren3.tavren3.metainfo.xml \
    "${icons[@]}" /usr/share/icons/hicolor/scalable/apps/tavren3.svg \
    /usr/share/man/man1/tavren3.1.gz /usr/share/man/ja/man1/tavren3.1.gz \
    /usr/share/doc/tavren3/copyright /usr/share/doc/tavren3/changelog.Debian.gz \
    /usr/share/doc/tavren3/index.html
expect_files "$headless" /usr/bin/tavren3-headless \
    /usr/lib/systemd/user/tavren3-headless.service \
    /usr/share/man/man1/tavren3-headless.1.gz /usr/share/man/ja/man1/tavren3-headless.1.gz \
    /usr/share/doc/tavren3-headless/copyright /usr/share/doc/tavren3-headless/changelog.Debian.gz

# Dependencies come from the programs; the server package needs no desktop
# library, also indirectly.
desktop_deps=$(dpkg-deb -f "$desktop" Depends)
headless_deps=$(dpkg-deb -f "$headless" Depends)
echo "tavren3 depends on: $desktop_deps"
echo "tavren3-headless depends on: $headless_deps"
for want in libc6 libqt6widgets6 qt6-qpa-plugins; do
    [[ $desktop_deps == *"$want"* ]] || fail "tavren3 does not depend on $want"
done
[[ $headless_deps == *libc6* ]] || fail "tavren3-headless: no dependencies read from the program"
desktop_libs='qt|libx11|libxcb|xkb|libgl|libegl|libopengl|wayland|icu'
if grep -Eio "[^ ,]*($desktop_libs)[^ ,]*" <<<"$headless_deps"; then
    fail "tavren3-headless depends on a desktop library"
fi

root=$work/root
dpkg -x "$desktop" "$root"
dpkg -x "$headless" "$root"
if loaded=$(ldd "$root/usr/bin/tavren3-headless" | grep -Ei "$desktop_libs"); then
    fail "tavren3-headless loads desktop libraries: $loaded"
fi
for program in tavren3 tavren3-headless; do
    got=$("$root/usr/bin/$program" --version)
    [[ $got == "フォルダ監視 Tavren Version $version" ]] || fail "$program --version says: $got"
done
# The unpacked watcher against a real folder: a dropped file is announced,
# moved, SIGHUP reloads, SIGTERM ends it.
bash "$here/../system/headless_watch.sh" "$root/usr/bin/tavren3-headless" ||
    fail "the packaged tavren3-headless does not watch"

unit=$root/usr/lib/systemd/user/tavren3-headless.service
for line in 'ExecStart=/usr/bin/tavren3-headless' "ExecReload=/bin/kill -HUP \$MAINPID" \
    'WantedBy=default.target'; do
    grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done
desktop-file-validate "$root/usr/share/applications/tavren3.desktop" || fail "desktop entry"
metainfo=$root/usr/share/metainfo/io.github.tavren3.tavren3.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "AppStream metadata"
# Its newest release is this version: a new version needs a new entry.
released=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
[[ $released == "$version" ]] ||
    fail "AppStream metadata: the newest release is ${released:-none}, not $version"
if command -v man >/dev/null; then
    for page in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/man/ja/man1/*.gz; do
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
        [[ -z $warnings ]] || fail "${page#"$root"}: $warnings"
    done
else
    skip "manual pages not formatted: no man (Debian package man-db)"
fi

# systemd reads the unit as a user manager would: a copy that starts the
# unpacked program, its manual page found among the unpacked ones.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/units" "$work/runtime"
    chmod 700 "$work/runtime"
    sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$work/units/${unit##*/}"
    # A setting it cannot parse is only warned about: any word fails.
    if ! verify=$(XDG_RUNTIME_DIR=$work/runtime MANPATH=$root/usr/share/man \
        systemd-analyze verify --user "$work/units/${unit##*/}" 2>&1) || [[ -n $verify ]]; then
        fail "systemd-analyze verify: $verify"
    fi
else
    skip "systemd-analyze not installed: the unit is not verified"
fi

# Removal names a watcher that still runs from the program and leaves it
# running; without one it says nothing. Either way it succeeds. The script
# is run from a copy that looks for the unpacked program.
is_running_from() { [[ $(readlink "/proc/$1/exe") == "$2" ]]; }
for deb in "$desktop" "$headless"; do
    name=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -e "$deb" "$work/control-$name"
    sh -n "$work/control-$name/prerm" || fail "$name: prerm does not parse"
    sed "s|^program=/usr/bin/|program=$root/usr/bin/|" "$work/control-$name/prerm" >"$work/prerm"
    said=$(sh "$work/prerm" remove) || fail "$name: prerm failed without a watcher"
    [[ -z $said ]] || fail "$name: prerm without a watcher says: $said"
    "$root/usr/bin/$name" --headless --data-dir "$work/data-$name" >/dev/null 2>&1 &
    watcher=$!
    wait_for 10 is_running_from "$watcher" "$root/usr/bin/$name" || fail "$name did not start"
    said=$(sh "$work/prerm" remove) || fail "$name: prerm failed beside a watcher"
    echo "$name prerm: $said"
    [[ $(wc -l <<<"$said") == 1 && $said == *"process $watcher "* && $said == *"kill $watcher."* ]] ||
        fail "$name: prerm does not name the watcher: $said"
    kill -0 "$watcher" || fail "$name: prerm ended the watcher"
    kill "$watcher"
    wait "$watcher" || fail "$name: the watcher did not end cleanly on SIGTERM"
    watcher=
done

if command -v lintian >/dev/null; then
    # Errors and warnings fail; notes are shown. The packages are built
    # outside Debian's archive, so there is no bug for their first
    # changelog entry to close.
    said=$(lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs \
        --display-info --tag-display-limit 0 "$desktop" "$headless") ||
        fail "lintian reports errors or warnings:"$'\n'"$said"
    echo "$said"
    # Notes only to lintian, but the programs are built and stripped as
    # Debian's own are.
    if grep -E 'hardening-|binary-has-unneeded-section' <<<"$said"; then
        fail "lintian: a program is not hardened or not stripped as Debian's are"
    fi
else
    skip "lintian not installed: the packages are not checked by it"
fi
echo "deb packages: ok"

#!/usr/bin/env bash
# Installs the program into a fresh prefix, validates its desktop entry and
# metainfo, makes the prefix read-only, and drives the installed program under
# Xvfb: it must save into the XDG data folder and list the process again.
# Then builds the Debian package and checks its control fields and contents.
set -euo pipefail
build="$1"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
desktop-file-validate "$prefix/share/applications/org.example.kadrelo.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.example.kadrelo.metainfo.xml"
for size in 16 22 24 32 48 64 128 256; do
    [ "$(identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x$size/apps/org.example.kadrelo.png")" = "${size}x$size" ]
done
chmod -R a-w "$prefix"
# --help and --version answer without any display.
for tool in kadrelo kadrelo-store kadrelo-export; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$tool" --version | grep -q "^$tool 2.0.1\$"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$tool" --help | grep -q "$tool"
done

export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
panel="$(cd "$(dirname "$0")/.." && pwd)/samples/panel1.bmp"
xvfb-run -a -s "-screen 0 1280x960x24" bash -c '
    set -eu
    "$0/bin/kadrelo" & pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    window() { timeout 10 xdotool search --sync --onlyvisible --name "$1" | head -n 1; }
    keys() { local w; w=$(window "$1"); shift; xdotool windowfocus --sync "$w"; xdotool key --delay 50 "$@"; }
    keys "^Kadrelo\$" ctrl+n
    editor=$(window "^新しいプロセス\$")
    xdotool windowfocus --sync "$editor"
    for panel in 1 2 3; do xdotool type --delay 5 "$1"; xdotool key Tab; done
    xdotool type --delay 5 "$1"
    xdotool key Return
    keys "^Kadrelo - 新しいプロセス\$" ctrl+s
    keys "^Kadrelo\$" Return
    for i in $(seq 50); do [ -f "$XDG_DATA_HOME/kadrelo/Process.dat" ] && break; sleep 0.1; done
    [ -f "$XDG_DATA_HOME/kadrelo/Process.dat" ] || { echo "nothing saved in the XDG folder"; exit 1; }
    keys "^Kadrelo - 新しいプロセス\$" ctrl+n
    keys "^Kadrelo\$" Return
    keys "^新しいプロセス\$" Escape
    keys "^Kadrelo - \$" ctrl+o
    keys "^他のプロセス\$" Down Return
    window "^Kadrelo - 新しいプロセス\$" >/dev/null || { echo "the saved process was not listed"; exit 1; }
    echo "saved into the XDG folder and opened from the list"
' "$prefix" "$panel"
[ "$("$prefix/bin/kadrelo-store" "$XDG_DATA_HOME/kadrelo/Process.dat" list)" = "新しいプロセス" ]
[ ! -e "$prefix/bin/Process.dat" ]
# The installed export tool, with no display at all.
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/kadrelo-export" \
    "$XDG_DATA_HOME/kadrelo/Process.dat" 新しいプロセス "$work/strip.png" --size 80x60
[ "$(identify -format '%wx%h' "$work/strip.png")" = "80x240" ]

cmake --build "$build" --target package >/dev/null
deb="$build/kadrelo_2.0.1_amd64.deb"
dpkg-deb -f "$deb" Package Version Architecture Depends
dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/kadrelo ./usr/bin/kadrelo-store ./usr/bin/kadrelo-export \
    ./usr/share/applications/org.example.kadrelo.desktop \
    ./usr/share/metainfo/org.example.kadrelo.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/org.example.kadrelo.svg \
    ./usr/share/icons/hicolor/48x48/apps/org.example.kadrelo.png \
    ./usr/share/man/man1/kadrelo.1.gz ./usr/share/man/man1/kadrelo-store.1.gz \
    ./usr/share/man/ja/man1/kadrelo.1.gz ./usr/share/man/ja/man1/kadrelo-store.1.gz \
    ./usr/share/man/man1/kadrelo-export.1.gz ./usr/share/man/ja/man1/kadrelo-export.1.gz \
    ./usr/share/doc/kadrelo/copyright ./usr/share/doc/kadrelo/changelog.gz; do
    grep -qxF "$file" <<<"$contents" || { echo "missing from the package: $file"; exit 1; }
done
echo "package contents checked"
# Debian's own checks of the package: no errors and no warnings.
lintian --fail-on error,warning --tag-display-limit 0 "$deb"
echo "lintian: no errors, no warnings"

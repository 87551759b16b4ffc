#!/usr/bin/env bash
# Makes packaging/screenshot.png, the picture the software centre shows: the
# main window with a sample comic open, taken under a virtual X server.
# Run it by hand after the look of the main window changes: bash packaging/make-screenshot.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target kadrelo kadrelo-store >/dev/null
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
cp build/kadrelo "$work/"
samples=$(pwd)/samples
printf '{"Name":"サンプル","PanelPath":["%s/panel2.jpg","%s/panel1.bmp","%s/panel3.ico","%s/panel4.png"],"BackColor":8404992,"ImageAppearance":1,"IntervalMs":1500}' \
    "$samples" "$samples" "$samples" "$samples" | build/kadrelo-store "$work/Process.dat" save --keep
export DISPLAY=:77 XDG_RUNTIME_DIR="$work"
Xvfb :77 -screen 0 1024x768x24 >/dev/null 2>&1 &
sleep 1
"$work/kadrelo" &
for _ in $(seq 50); do
    win=$(xdotool search --onlyvisible --name '^Kadrelo' 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.1
done
xdotool windowfocus --sync "$win" key ctrl+o
sleep 0.5
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '他のプロセス' | head -n 1)" key Down Return
sleep 0.5
import -window "$win" packaging/screenshot.png
identify -format '%wx%h\n' packaging/screenshot.png

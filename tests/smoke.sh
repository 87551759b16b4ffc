#!/usr/bin/env bash
# Starts the real program under Xvfb, waits for its main window, closes it from
# its File menu and checks that it ended by itself.
set -euo pipefail
exe="$1"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
work=$(mktemp -d)
cp "$exe" "$work/kadrelo"   # Process.dat would live beside it
unset QT_QPA_PLATFORM
exec xvfb-run -a -s "-screen 0 1280x960x24" bash -c '
    "$0/kadrelo" & pid=$!
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^Kadrelo\$" | head -n 1)
    [ -n "$wid" ] || { echo "no main window"; kill $pid; exit 1; }
    geometry=$(xwininfo -id "$wid" | grep -E "Width|Height" | tr -s " " | paste -sd " ")
    echo "main window $wid: $geometry"
    xdotool windowfocus --sync "$wid"
    xdotool key alt+f
    sleep 0.3
    xdotool key x
    for i in $(seq 50); do kill -0 $pid 2>/dev/null || { wait $pid; echo "closed"; exit 0; }; sleep 0.1; done
    echo "still running after Exit"; kill $pid; exit 1
' "$work"

#!/usr/bin/env bash
# Runs one test program on Qt's native Wayland platform, under a headless
# Wayland compositor started for it alone and stopped after it.
set -euo pipefail
test_program="$1"
shift
runtime=$(mktemp -d)
chmod 700 "$runtime"
socket="kadrelo-test-$$"
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --use-pixman \
    --socket="$socket" --width=1280 --height=960 --idle-time=0 >"$runtime/weston.log" 2>&1 &
weston_pid=$!
trap 'kill "$weston_pid" 2>/dev/null; wait "$weston_pid" 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 100); do
    [ -S "$runtime/$socket" ] && break
    kill -0 "$weston_pid" 2>/dev/null || { cat "$runtime/weston.log"; exit 1; }
    sleep 0.1
done
[ -S "$runtime/$socket" ] || { echo "the compositor did not start"; exit 1; }

export XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland
# A headless compositor has no seat, and Qt's text-input support assumes one.
export QT_IM_MODULE=none
"$test_program" "$@"

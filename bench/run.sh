#!/usr/bin/env bash
# Builds and runs every benchmark under a virtual X server. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
unset QT_QPA_PLATFORM
for mode in "${@:-startup loader store player}"; do
    for m in $mode; do
        echo "== $m"
        xvfb-run -a -s "-screen 0 1920x1080x24" ./build/kadrelo-bench "$m"
    done
done

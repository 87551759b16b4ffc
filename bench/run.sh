#!/usr/bin/env bash
# Builds and runs every benchmark under a virtual X server. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --build build --target kadrelo-bench >/dev/null
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
unset QT_QPA_PLATFORM
for m in ${@:-startup loader store player emf}; do
    echo "== $m"
    extra=()
    [ "$m" = emf ] && extra=(../shared/emf-public tests/data/emf)
    xvfb-run -a -s "-screen 0 1920x1080x24" ./build/kadrelo-bench "$m" "${extra[@]}"
done

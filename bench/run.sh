#!/usr/bin/env bash
# Builds and runs every benchmark under a virtual X server. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --build build --target kadrelo-bench >/dev/null
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
unset QT_QPA_PLATFORM
for m in ${@:-startup loader tool pictures export store player emf emf-fresh}; do
    echo "== $m"
    extra=()
    case "$m" in emf | emf-fresh) extra=(../shared/emf-public tests/data/emf) ;; esac
    xvfb-run -a -s "-screen 0 1920x1080x24" ./build/kadrelo-bench "$m" "${extra[@]}"
done

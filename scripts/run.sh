#!/usr/bin/env bash
# Sets up and builds the project, then starts Kadrelo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec ./build/kadrelo "$@"

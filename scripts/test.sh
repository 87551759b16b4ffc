#!/usr/bin/env bash
# Sets up and builds the project, then runs every test headless: the test suite,
# the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, and
# a short run of each fuzz target (KADRELO_FUZZ_SECONDS, 60 by default).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
jobs=$(nproc)

echo "== tests"
(cd build && ctest --output-on-failure --timeout 300 -j "$jobs")

echo "== tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKADRELO_SANITIZE=ON >/dev/null
cmake --build build-asan
(cd build-asan && ctest --output-on-failure --timeout 600 -j "$jobs")

echo "== fuzzing"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKADRELO_FUZZ=ON -DKADRELO_FUZZ_SECONDS="${KADRELO_FUZZ_SECONDS:-60}" >/dev/null
cmake --build build-fuzz
cd build-fuzz
ctest --output-on-failure -j "$jobs"

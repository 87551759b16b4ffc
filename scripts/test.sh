#!/usr/bin/env bash
# Sets up and builds the project, then runs every test headless in three stages:
# the test suite (build/, gcc), the same suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of each fuzz target
# (KADRELO_FUZZ_SECONDS, 10 by default); the last two share one clang tree
# (build-asan/). Ends with how many tests passed in each stage.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
echo "(setting up and building took $SECONDS s)"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
jobs=$(nproc)
summary=()
failed=0

# Runs ctest in a build tree and keeps its count for the summary.
stage() {
    local name=$1 dir=$2 started=$SECONDS
    shift 2
    echo "== $name"
    local log
    log=$(mktemp)
    (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log" || true
    local line
    line=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
    local total=${line##* out of }
    local bad
    bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    if [ -z "$line" ] || [ "$bad" != 0 ]; then failed=1; fi
    # Tests on data outside the repository are skipped, visibly, where it is absent.
    local skipped
    skipped=$(grep -c '(Skipped)$' "$log" || true)
    summary+=("$name: $((${total:-0} - ${bad:-0} - skipped)) passed, ${bad:-?} failed, $skipped skipped")
    echo "($name took $((SECONDS - started)) s)"
    rm -f "$log"
}

stage tests build --timeout 300

echo "== building with sanitizers and fuzz targets (clang)"
built=$SECONDS
CC=clang-14 CXX=clang++-14 cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DKADRELO_SANITIZE=ON \
    -DKADRELO_FUZZ_SECONDS="${KADRELO_FUZZ_SECONDS:-10}" >/dev/null
cmake --build build-asan
echo "(the clang build took $((SECONDS - built)) s)"
stage sanitizers build-asan --timeout 600 -LE fuzz
stage fuzzing build-asan -L fuzz -j 3

printf '%s\n' "${summary[@]}"
exit "$failed"

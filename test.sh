#!/usr/bin/env bash
# Installs what is missing (Debian packages, by name), builds everything and
# runs the whole test suite through ctest. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
install_missing

BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEXP_BUILD_TESTS=ON >/dev/null
cmake --build "$BUILD" --parallel "$(nproc)"

# A throw-away PostgreSQL on loopback for the database tests.
source scripts/pg_temp.sh
pg_temp_start
trap pg_temp_stop EXIT

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD" --output-on-failure --parallel "$(nproc)" --timeout 600

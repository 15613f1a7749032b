#!/usr/bin/env bash
# Installs what is missing (Debian packages, by name), builds everything and
# runs the whole test suite through ctest. Safe to run again. Leaves no system
# service running or enabled: the tests start their own servers.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
install_missing test

# The clean-up is in place before the throw-away PostgreSQL exists, so that
# nothing failing from here on leaves it running.
source scripts/pg_temp.sh
trap pg_temp_stop EXIT

BUILD=${BUILD_DIR:-build}
# EXP_CMAKE_OPTIONS: further options for the build (CI: -DEXP_WERROR=ON).
# shellcheck disable=SC2086  # several options, split on blanks
cmake --log-level=WARNING -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEXP_BUILD_TESTS=ON ${EXP_CMAKE_OPTIONS:-}
cmake --build "$BUILD" --parallel "$(nproc)"

# A throw-away PostgreSQL on loopback for the database tests.
pg_temp_start

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD" --output-on-failure --parallel "$(nproc)" --timeout 600

#!/usr/bin/env bash
# Installs what is missing (Debian packages, by name), builds everything and
# runs the whole test suite through ctest. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-ibase
  libcpp-httplib-dev xvfb xauth fontconfig fonts-dejavu-core
  postgresql-15 firebird3.0-server-core firebird3.0-utils curl)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --parallel "$(nproc)"

# A throw-away PostgreSQL on loopback for the database tests.
source scripts/pg_temp.sh
pg_temp_start
trap pg_temp_stop EXIT

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD" --output-on-failure --parallel "$(nproc)" --timeout 600

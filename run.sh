#!/usr/bin/env bash
# Runs the product: the application server on the demo database (generated on
# first use), then the host shell with the cancellation screen open.
#   ./run.sh                     opens the shell on the display
#   ./run.sh --screenshot FILE   the same headless; writes a PNG and exits
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
install_missing
BUILD=${BUILD_DIR:-build}
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" --parallel "$(nproc)" --target exp_shell exp_appserver PKG_EXP01800 PKG_EXP03600 PKG_EXP00106 >/dev/null
exec scripts/run_demo.sh "$BUILD" "$@"

#!/usr/bin/env bash
# Runs the product: the application server on the demo database (generated on
# first use), then the host shell with the cancellation screen open.
#   ./run.sh                     opens the shell on the display
#   ./run.sh --screenshot FILE   the same headless; writes a PNG and exits
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD_DIR:-build}
if [ ! -x "$BUILD/bin/exp_shell" ] || [ ! -x "$BUILD/bin/exp_appserver" ]; then
  EXP_BUILD_TESTS=OFF
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" --parallel "$(nproc)"
fi
exec scripts/run_demo.sh "$BUILD" "$@"

#!/usr/bin/env bash
# Runs the product: the application server on the demo database (generated on
# first use), then the host shell with the cancellation screen open.
#   ./run.sh                     opens the shell on the display
#   ./run.sh --screenshot FILE   the same headless; writes a PNG and exits
# Installs only what building and running need (test.sh installs the rest).
set -euo pipefail
cd "$(dirname "$0")"

# The shell's window needs a display: say so before minutes of building.
if [ "${1:-}" != --screenshot ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
Não há tela: as variáveis DISPLAY e WAYLAND_DISPLAY estão vazias, e a janela do
sistema precisa de uma. Rode numa sessão gráfica (ou por ssh -X), ou grave uma
imagem da tela sem ela:
  ./run.sh --screenshot ARQUIVO.png
MSG
  exit 1
fi

source scripts/deps.sh
install_missing run
BUILD=${BUILD_DIR:-build}
if [ ! -f "$BUILD/build.ninja" ]; then
  echo "Configurando a compilação em $BUILD/ ..." >&2
  cmake --log-level=WARNING -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEXP_BUILD_TESTS=OFF
  echo "Compilando (a primeira vez leva alguns minutos) ..." >&2
fi
cmake --build "$BUILD" --parallel "$(nproc)" --target exp_shell exp_appserver PKG_EXP01800 PKG_EXP03600 PKG_EXP00106
exec scripts/run_demo.sh "$BUILD" "$@"

#!/usr/bin/env bash
# The launch scripts and the shell as a first-time user meets them, each in
# a scratch copy of the scripts with fakes on PATH where a real program would
# install or build:
#   test_launch.sh run_demo          a server that dies at start is reported at once, with its log
#   test_launch.sh test_trap         a failure after the throw-away PostgreSQL started leaves none running
#   test_launch.sh no_display SHELL  --help works and the rest says in Portuguese that a display is needed
set -uo pipefail
SRC=$(cd "$(dirname "$0")/../.." && pwd)
W=$(mktemp -d); chmod 755 "$W"
FAILS=0
fail() { echo "FAIL [$1]: $2" >&2; FAILS=$((FAILS + 1)); }
fake() { mkdir -p "$(dirname "$1")"; printf '#!/bin/bash\n%s\n' "$2" > "$1"; chmod +x "$1"; }

case $1 in
run_demo)
  mkdir -p "$W/scripts"; cp "$SRC/scripts/run_demo.sh" "$W/scripts/"
  fake "$W/build/bin/exp_appserver" '[ "$1" = serve ] || exit 0
echo "abrindo o banco"; echo "erro: o banco de dados está travado" >&2; exit 3'
  fake "$W/build/bin/exp_shell" "touch '$W/shell-started'"
  "$W/scripts/run_demo.sh" build --screenshot "$W/x.png" > "$W/out" 2>&1; status=$?
  [ $status -ne 0 ] || fail run_demo "ended with 0"
  [ -e "$W/shell-started" ] && fail run_demo "started the shell with no server"
  for want in "terminou ao iniciar (código 3)" "$W/demo/server.log" "erro: o banco de dados está travado"; do
    grep -qF "$want" "$W/out" || fail run_demo "no '$want' in: $(cat "$W/out")"
  done
  ;;
test_trap)
  real=/usr/lib/postgresql/15/bin
  [ -x "$real/initdb" ] || { echo "PostgreSQL 15 not installed"; rm -rf "$W"; exit 77; }
  mkdir -p "$W/scripts" "$W/tmp" "$W/pgbin"; chmod 755 "$W/tmp"
  cp "$SRC/test.sh" "$W/"; cp "$SRC/scripts/deps.sh" "$SRC/scripts/pg_temp.sh" "$W/scripts/"
  ln -s "$real/initdb" "$W/pgbin/initdb"; ln -s "$real/pg_ctl" "$W/pgbin/pg_ctl"; ln -s "$real/postgres" "$W/pgbin/postgres"
  fake "$W/pgbin/createdb" 'echo "createdb: falhou" >&2; exit 1'
  fake "$W/fakebin/dpkg-query" 'printf "install ok installed"'
  fake "$W/fakebin/cmake" 'exit 0'
  fake "$W/fakebin/ctest" "touch '$W/ctest-ran'"
  PATH="$W/fakebin:$PATH" PG_BIN="$W/pgbin" TMPDIR="$W/tmp" PG_TEMP_PORT=55435 "$W/test.sh" > "$W/out" 2>&1 &&
    fail test_trap "test.sh succeeded though createdb failed"
  grep -q "createdb: falhou" "$W/out" || fail test_trap "did not get as far as createdb: $(cat "$W/out")"
  if pgrep -f "$W/tmp/exp-pg" >/dev/null; then
    fail test_trap "the throw-away PostgreSQL is still running"
    for d in "$W"/tmp/exp-pg.*/data; do runuser -u postgres -- "$real/pg_ctl" -D "$d" -m immediate stop >/dev/null 2>&1 || "$real/pg_ctl" -D "$d" -m immediate stop >/dev/null 2>&1; done
  fi
  compgen -G "$W/tmp/exp-pg.*" >/dev/null && fail test_trap "its folder was left behind"
  ;;
no_display)
  shell=$2
  nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
  "${nodisplay[@]}" "$shell" --help > "$W/out" 2>&1 || fail "--help" "failed: $(cat "$W/out")"
  grep -q "^Uso: exp_shell" "$W/out" || fail "--help" "no usage: $(cat "$W/out")"
  "${nodisplay[@]}" "$shell" --server 127.0.0.1:1 > "$W/out" 2>&1 && fail shell "started with no display"
  grep -q "não há tela" "$W/out" && grep -q -- "--screenshot" "$W/out" || fail shell "unclear message: $(cat "$W/out")"
  # run.sh says so before installing or building anything.
  cp "$SRC/run.sh" "$W/"; mkdir -p "$W/scripts"; : > "$W/scripts/deps.sh"
  fake "$W/fakebin/cmake" "touch '$W/built'"
  PATH="$W/fakebin:$PATH" "${nodisplay[@]}" "$W/run.sh" > "$W/out" 2>&1 && fail run.sh "ended with 0"
  [ -e "$W/built" ] && fail run.sh "built before saying there is no display"
  grep -q "./run.sh --screenshot" "$W/out" || fail run.sh "unclear message: $(cat "$W/out")"
  ;;
*) echo "unknown case $1" >&2; exit 2 ;;
esac
rm -rf "$W"
[ $FAILS -eq 0 ] && echo "$1: passed"
exit $((FAILS > 0))

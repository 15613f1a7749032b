#!/usr/bin/env bash
# Starts the application server on the demo database and the shell with the
# cancellation screen. Usage: run_demo.sh BUILD_DIR [--screenshot FILE] [shell options]
# The demo database (demo/demo.db) is generated on first use and again on a
# later day, since its entries are dated relative to the day it was made.
set -euo pipefail
# The demo folder holds the database (every operator's password hash), the
# credentials and the server's log: all of it for this user only.
umask 077
BUILD=$1; shift
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN="$ROOT/$BUILD/bin"
[ -d "$BIN" ] || BIN="$BUILD/bin"
DEMO="$ROOT/demo"
DB="$DEMO/demo.db"
mkdir -p "$DEMO"
chmod 700 "$DEMO"
[ -f "$DEMO/server.log" ] && chmod 600 "$DEMO/server.log"

# The demo operator's credentials: a random password in a file only its
# owner may read, passed to the shell by name (never on a command line).
CRED="$DEMO/credenciais"
if [ ! -f "$CRED" ]; then
  (umask 077; printf 'Operador=DEMO\nSenha=%s\n' "$(head -c 18 /dev/urandom | base64 | tr -d '/+=')" > "$CRED")
fi
chmod 600 "$CRED"

if [ ! -f "$DB" ] || [ "$(cat "$DEMO/made-on" 2>/dev/null)" != "$(date +%F)" ]; then
  rm -f "$DB" "$DB-wal" "$DB-shm"
  "$BIN/exp_appserver" demo --db "sqlite:$DB" --entries "${EXP_DEMO_ENTRIES:-3000}" --seed 1
  date +%F > "$DEMO/made-on"
fi
if ! "$BIN/exp_appserver" operator show DEMO --db "sqlite:$DB" >/dev/null 2>&1; then
  sed -n 's/^Senha=//p' "$CRED" | "$BIN/exp_appserver" operator add DEMO --db "sqlite:$DB" \
    --name "Operador de demonstração" --branches '*'
fi

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
PORT=${EXP_PORT:-8211}
while ! port_free "$PORT"; do PORT=$((PORT + 1)); done

LOG="$DEMO/server.log"
"$BIN/exp_appserver" serve --listen 127.0.0.1 --port "$PORT" --db "sqlite:$DB" 2>"$LOG" &
SERVER=$!
trap 'kill -TERM $SERVER 2>/dev/null; wait $SERVER 2>/dev/null || true' EXIT
# Waits up to ten seconds for the server to answer, and stops waiting as soon
# as it has ended: the operator sees why instead of a shell with no server.
server_failed() {
  echo "$1" >&2
  echo "Últimas linhas do registro do servidor ($LOG):" >&2
  tail -n 20 "$LOG" | sed 's/^/  /' >&2
  exit 1
}
for i in $(seq 1 100); do
  curl -sf "http://127.0.0.1:$PORT/health" >/dev/null 2>&1 && break
  if ! kill -0 "$SERVER" 2>/dev/null; then
    status=0; wait "$SERVER" || status=$?
    server_failed "O servidor de aplicação terminou ao iniciar (código $status)."
  fi
  [ "$i" -eq 100 ] && server_failed "O servidor de aplicação não respondeu em 10 s na porta $PORT."
  sleep 0.1
done

SHELL_ARGS=(--server "127.0.0.1:$PORT" --db-driver QSQLITE --db "$DB" --module-dir "$BIN"
  --module EXP01800 --modufili --filial 0001 --nome-filial "Matriz São Paulo" --credentials "$CRED"
  --options-file "$DEMO/options.ini")
if [ "${1:-}" = "--screenshot" ] && [ -z "${DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
"$BIN/exp_shell" "${SHELL_ARGS[@]}" "$@"

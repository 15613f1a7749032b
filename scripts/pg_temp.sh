# Starts a throw-away PostgreSQL on 127.0.0.1 for tests and exports
# EXP_TEST_PG (a QtSql-style "host=... port=... user=... dbname=..." string).
# Sourced by test.sh; pg_temp_stop removes it again.
PG_TEMP_PORT=${PG_TEMP_PORT:-55432}
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
pg_temp_start() {
  local bin=$PG_BIN
  if [ ! -x "$bin/initdb" ]; then
    echo "PostgreSQL 15 not installed: PostgreSQL tests will be skipped" >&2
    return 0
  fi
  # The first free port from PG_TEMP_PORT on, so a server left by someone
  # else does not stop the run.
  while (exec 3<>"/dev/tcp/127.0.0.1/$PG_TEMP_PORT") 2>/dev/null; do
    PG_TEMP_PORT=$((PG_TEMP_PORT + 1))
  done
  PG_TEMP_DIR=$(mktemp -d "${TMPDIR:-/tmp}/exp-pg.XXXXXX")
  chmod 755 "$PG_TEMP_DIR"
  local run=""
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$PG_TEMP_DIR"
    run="runuser -u postgres --"
  fi
  $run "$bin/initdb" -D "$PG_TEMP_DIR/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 --no-sync >/dev/null
  $run "$bin/pg_ctl" -D "$PG_TEMP_DIR/data" -l "$PG_TEMP_DIR/log" -w start \
    -o "-p $PG_TEMP_PORT -c listen_addresses=127.0.0.1 -k $PG_TEMP_DIR -c fsync=off -c max_connections=200" >/dev/null
  "$bin/createdb" -h 127.0.0.1 -p "$PG_TEMP_PORT" -U postgres exptest
  export EXP_TEST_PG="host=127.0.0.1 port=$PG_TEMP_PORT user=postgres dbname=exptest"
}
pg_temp_stop() {
  [ -n "${PG_TEMP_DIR:-}" ] || return 0
  local bin=$PG_BIN run=""
  [ "$(id -u)" -eq 0 ] && run="runuser -u postgres --"
  $run "$bin/pg_ctl" -D "$PG_TEMP_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$PG_TEMP_DIR"
  PG_TEMP_DIR=""
}

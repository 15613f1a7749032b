#!/bin/sh
# Small calls under wrk (run by hand; figures go to docs/performance.md):
# `GET /health` and `POST /call` of `GetItem` over the same number of
# keep-alive connections, against one exp_appserver on loopback logging to a
# file, on a demo database made once in WORK.
#
# Usage: bench/server/wrk_small_calls.sh SERVER_BINARY [threads=default] [seconds=5] [connections=16]
#   WORK=/tmp/wrk_small_calls  DBCONN=N (--db-connections)  PERF=1 (also records `perf record -g` of the
#   server under the GetItem load into WORK/perf.data)
set -eu
BIN=${1:?exp_appserver binary}
THREADS=${2:-}
SECS=${3:-5}
CONNS=${4:-16}
WORK=${WORK:-/tmp/wrk_small_calls}
PORT=${PORT:-18211}
mkdir -p "$WORK"
DB="sqlite:$WORK/demo.db"
if [ ! -f "$WORK/demo.db" ]; then
    "$BIN" demo --db "$DB" --entries 20000 >/dev/null 2>&1
    printf 'senha-de-bench\n' | "$BIN" operator add BENCH --db "$DB" --branches '*' >/dev/null 2>&1
fi
set -- serve --db "$DB" --port "$PORT"
[ -n "$THREADS" ] && set -- "$@" --threads "$THREADS"
[ -n "${DBCONN:-}" ] && set -- "$@" --db-connections "$DBCONN"
"$BIN" "$@" 2>"$WORK/server.log" &
SRV=$!
trap 'kill $SRV 2>/dev/null; wait $SRV 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    curl -s "http://127.0.0.1:$PORT/health" >/dev/null 2>&1 && break
    sleep 0.1
done
TOKEN=$(curl -s -X POST -d '{"operador":"BENCH","senha":"senha-de-bench"}' "http://127.0.0.1:$PORT/login" |
    sed -n 's/.*"token":"\([0-9a-f]*\)".*/\1/p')
[ -n "$TOKEN" ] || { echo "login failed" >&2; exit 1; }
cat >"$WORK/getitem.lua" <<EOF
wrk.method = "POST"
wrk.body = '{"server":"Exp01800.rdmCancelNota","method":"GetItem","args":["0001","0000000010"]}'
wrk.headers["Content-Type"] = "application/json"
wrk.headers["Authorization"] = "Bearer $TOKEN"
EOF
# The server's CPU time so far (user + system, clock ticks): CPU per call
# depends far less on the other work on the machine than calls per second.
ticks() { awk '{print $14 + $15}' "/proc/$SRV/stat"; }
HZ=$(getconf CLK_TCK)
perCall() { awk -v t="$1" -v hz="$HZ" -v r="$2" -v s="$SECS" 'BEGIN {printf "%.0f us CPU a call", 1e6 * t / hz / (r * s)}'; }
summary() { awk '/Requests\/sec/ {r=$2} /^ +50%/ {p50=$2} /^ +99%/ {p99=$2} /Non-2xx/ {bad=$NF}
                 END {printf "%s calls/s p50 %s p99 %s%s\n", r, p50, p99, bad ? " non-2xx " bad : ""}'; }
echo "load: $(uptime | sed 's/.*load average: //')"
T0=$(ticks)
H=$(wrk -t2 -c"$CONNS" -d"${SECS}s" --latency "http://127.0.0.1:$PORT/health" | summary)
T1=$(ticks)
echo "/health  $H, server $(perCall $((T1 - T0)) "${H%% *}")"
PERFPID=
if [ "${PERF:-0}" = 1 ]; then
    perf record -F 999 -g -p "$SRV" -o "$WORK/perf.data" -- sleep "$((SECS - 1))" >/dev/null 2>&1 &
    PERFPID=$!
fi
T0=$(ticks)
G=$(wrk -t2 -c"$CONNS" -d"${SECS}s" --latency -s "$WORK/getitem.lua" "http://127.0.0.1:$PORT/call" | summary)
T1=$(ticks)
[ -n "$PERFPID" ] && wait "$PERFPID"
echo "GetItem  $G, server $(perCall $((T1 - T0)) "${G%% *}")"
echo "$H $G" | awk '{printf "ratio GetItem / health: %.0f%%\n", 100 * $7 / $1}'
echo "load: $(uptime | sed 's/.*load average: //')"

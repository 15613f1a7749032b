#!/usr/bin/env bash
# Builds exp-appserver and exp-shell with cpack (never installs them), checks
# their names, dependencies, contents and file modes, unpacks both into a
# scratch root, starts the server from there with the shipped configuration
# file and asks it for /health, runs the unpacked shell's --help without a
# display, and verifies the systemd unit where systemd-analyze exists.
# Usage: test_packages.sh BUILD_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null || { echo "dpkg-dev missing"; exit 77; }
W=$(mktemp -d)
SERVER=""
trap '[ -n "$SERVER" ] && kill $SERVER 2>/dev/null; rm -rf "$W"' EXIT
FAILS=0
fail() { echo "FAIL: $*" >&2; FAILS=$((FAILS + 1)); }

cpack --config "$BUILD/CPackConfig.cmake" -B "$W/pkgs" > "$W/cpack.log" 2>&1 || { cat "$W/cpack.log"; echo "FAIL: cpack"; exit 1; }
SRV=$(ls "$W"/pkgs/exp-appserver_*.deb 2>/dev/null); SH=$(ls "$W"/pkgs/exp-shell_*.deb 2>/dev/null)
[ -f "$SRV" ] && [ -f "$SH" ] || { ls "$W/pkgs"; echo "FAIL: packages not built"; exit 1; }

# Names and dependencies: the libraries the binaries link, worked out by
# dpkg-shlibdeps, and the plug-ins and tools they load at run time.
field() { dpkg-deb -f "$1" "$2"; }
[ "$(field "$SRV" Package)" = exp-appserver ] || fail "server package name $(field "$SRV" Package)"
[ "$(field "$SH" Package)" = exp-shell ] || fail "shell package name $(field "$SH" Package)"
for dep in libqt6core6 libqt6sql6 libsodium23 libsqlite3-0 libc6 adduser libqt6sql6-sqlite libqt6sql6-psql; do
  field "$SRV" Depends | grep -qE "(^|, )$dep( |,|$)" || fail "exp-appserver does not depend on $dep: $(field "$SRV" Depends)"
done
for dep in libqt6widgets6 libqt6gui6 libcpp-httplib0.11 libqt6sql6-sqlite; do
  field "$SH" Depends | grep -qE "(^|, )$dep( |,|$)" || fail "exp-shell does not depend on $dep: $(field "$SH" Depends)"
done
dpkg-deb -e "$SRV" "$W/control"
grep -qx /etc/exp-appserver/exp-appserver.conf "$W/control/conffiles" || fail "the configuration file is no conffile"
[ -x "$W/control/postinst" ] && grep -q "adduser --system" "$W/control/postinst" || fail "no system user made by postinst"

# Contents and modes: path, mode, owner; data and configuration owner-only
# (postinst gives the service's group read access to the configuration).
dpkg-deb -c "$SRV" > "$W/srv.list"; dpkg-deb -c "$SH" > "$W/sh.list"
while read -r list path mode; do
  line=$(awk -v p="$path" '$6 == p' "$W/$list.list")
  [ -n "$line" ] || { fail "$path missing from $list"; continue; }
  [ "$(awk '{print $1}' <<<"$line")" = "$mode" ] || fail "$path: $(awk '{print $1}' <<<"$line"), want $mode"
  [ "$(awk '{print $2}' <<<"$line")" = root/root ] || fail "$path not owned by root"
done <<'TABLE'
srv ./etc/exp-appserver/ drwxr-x---
srv ./etc/exp-appserver/exp-appserver.conf -rw-r-----
srv ./var/lib/exp-appserver/ drwx------
srv ./usr/lib/exp-appserver/exp_appserver -rwxr-xr-x
srv ./usr/lib/exp-appserver/libexp_core.so -rw-r--r--
srv ./usr/bin/exp_appserver lrwxrwxrwx
srv ./lib/systemd/system/exp-appserver.service -rw-r--r--
sh ./usr/lib/exp-shell/exp_shell -rwxr-xr-x
sh ./usr/lib/exp-shell/libexp_core.so -rw-r--r--
sh ./usr/lib/exp-shell/libexp_client.so -rw-r--r--
sh ./usr/lib/exp-shell/libexp_host.so -rw-r--r--
sh ./usr/lib/exp-shell/PKG_EXP01800.so -rw-r--r--
sh ./usr/lib/exp-shell/PKG_EXP03600.so -rw-r--r--
sh ./usr/lib/exp-shell/PKG_EXP00106.so -rw-r--r--
sh ./usr/bin/exp_shell lrwxrwxrwx
TABLE
grep -qE "PKG_SAMPLE|PKG_NOENTRY|_test|bench_" "$W/srv.list" "$W/sh.list" && fail "test or benchmark files packaged"
grep -q "exp_appserver" "$W/sh.list" && fail "the server is in the desktop package"
grep -q "libexp_client" "$W/srv.list" && fail "the client library is in the server package"

# Unpacked into a scratch root: the binaries find their libraries there and
# nowhere in the build tree.
mkdir -p "$W/root"; dpkg-deb -x "$SRV" "$W/root"; dpkg-deb -x "$SH" "$W/root"
for b in usr/lib/exp-appserver/exp_appserver usr/lib/exp-shell/exp_shell usr/lib/exp-shell/PKG_EXP01800.so; do
  ldd "$W/root/$b" > "$W/ldd" 2>&1
  grep -q "not found" "$W/ldd" && fail "$b: $(grep 'not found' "$W/ldd")"
  grep -q "$BUILD" "$W/ldd" && fail "$b loads from the build tree"
  grep -q "libexp_core.so => $W/root/usr/lib/" "$W/ldd" || fail "$b: libexp_core not from its own folder"
done
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$W/root/usr/bin/exp_shell" --help 2>&1 | grep -q "^Uso: exp_shell" ||
  fail "the unpacked shell's --help"

# The server from the scratch root, with the shipped configuration file and
# the database and port overridden after it on the command line.
mkdir -p "$W/data"
"$W/root/usr/bin/exp_appserver" serve --config "$W/root/etc/exp-appserver/exp-appserver.conf" \
  --db "sqlite:$W/data/exp.db" --port 0 2> "$W/server.log" &
SERVER=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*escutando em 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$W/server.log")
  [ -n "$port" ] && break
  kill -0 $SERVER 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  fail "the unpacked server did not start: $(cat "$W/server.log")"
else
  curl -sf "http://127.0.0.1:$port/health" >/dev/null || fail "no /health from the unpacked server"
  kill -TERM $SERVER; wait $SERVER || fail "the server did not end cleanly on SIGTERM"
fi
SERVER=""

# A configuration file the server cannot use is refused with the line at fault.
printf 'port=8211\n\nlisten 127.0.0.1\n' > "$W/bad.conf"
for c in "$W/bad.conf:linha 3" "$W/none.conf:não foi possível ler"; do
  "$W/root/usr/bin/exp_appserver" serve --config "${c%%:*}" > "$W/out" 2>&1 && fail "served with ${c%%:*}"
  grep -q "${c#*:}" "$W/out" || fail "${c%%:*}: $(head -1 "$W/out")"
done

# The unit, with the scratch root's program in place of the installed one.
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$W/unit"
  sed "s|/usr/lib/exp-appserver/exp_appserver|$W/root/usr/lib/exp-appserver/exp_appserver|" \
    "$W/root/lib/systemd/system/exp-appserver.service" > "$W/unit/exp-appserver.service"
  systemd-analyze verify --man=no "$W/unit/exp-appserver.service" > "$W/verify" 2>&1 || fail "systemd-analyze verify: $(cat "$W/verify")"
  [ -s "$W/verify" ] && echo "systemd-analyze: $(cat "$W/verify")"
  for key in NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes ReadWritePaths=/var/lib/exp-appserver \
             "ExecStart=.* serve --config /etc/exp-appserver/exp-appserver.conf$"; do
    grep -qE "^$key" "$W/root/lib/systemd/system/exp-appserver.service" || fail "unit lacks $key"
  done
fi

[ $FAILS -eq 0 ] && echo "packages: all checks passed ($(basename "$SRV"), $(basename "$SH"))"
exit $((FAILS > 0))

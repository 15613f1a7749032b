#!/usr/bin/env bash
# scripts/deps.sh's decisions, with fake dpkg-query, apt-get, systemctl,
# service, update-rc.d, id and sudo on PATH and a scratch root for the
# policy file and the SysV links: which packages it installs for run and
# test, how it becomes root (or says it cannot), and that services an install
# enabled or started are stopped and disabled while others are left alone.
set -uo pipefail
SRC=$(cd "$(dirname "$0")/../.." && pwd)
FAILS=0
fail() { echo "FAIL [$CASE]: $*" >&2; FAILS=$((FAILS + 1)); }

# A fresh fake machine in $W. $1: "systemd" or "sysv"; $2: uid; $3: "sudo" or "".
machine() {
  W=$(mktemp -d); mkdir -p "$W/bin" "$W/tools" "$W/enabled" "$W/running" "$W/etc/init.d" "$W/etc/rc2.d"
  for t in bash sh cat grep sed awk rm mkdir touch chmod env ls mktemp; do ln -s "$(command -v $t)" "$W/tools/$t"; done
  [ "$1" = systemd ] && mkdir -p "$W/run-systemd"
  : > "$W/status"; : > "$W/log"
  cat > "$W/bin/dpkg-query" <<F
#!/bin/bash
shift 2; rc=0
for p in "\$@"; do grep "^\$p " "$W/status" || rc=1; done
exit \$rc
F
  printf '#!/bin/sh\n[ "$1" = -u ] && echo %s || echo fake\n' "$2" > "$W/bin/id"
  [ "$3" = sudo ] && printf '#!/bin/sh\necho "sudo $*" >> %s/log\nexec "$@"\n' "$W" > "$W/bin/sudo"
  # apt-get: its install runs a postinst per package that enables the
  # package's service and starts it unless the policy refuses (as Debian's do).
  cat > "$W/bin/apt-get" <<F
#!/bin/bash
echo "apt-get \$* uid=\$(id -u) policy=\$([ -e "$W/policy-rc.d" ] && echo yes || echo no)" >> "$W/log"
[ "\$1" = install ] || exit 0
for p in "\$@"; do
  case \$p in postgresql-15) s=postgresql ;; haproxy) s=haproxy ;; *) continue ;; esac
  touch "$W/enabled/\$s"; ln -sf ../init.d/\$s "$W/etc/rc2.d/S01\$s"; printf '#!/bin/sh\n' > "$W/etc/init.d/\$s"; chmod +x "$W/etc/init.d/\$s"
  rc=0; [ -x "$W/policy-rc.d" ] && { "$W/policy-rc.d" \$s start; rc=\$?; }
  [ \$rc -eq 101 ] || touch "$W/running/\$s"
done
F
  cat > "$W/bin/systemctl" <<F
#!/bin/bash
echo "systemctl \$*" >> "$W/log"
for a in "\$@"; do case \$a in *.service) s=\${a%.service} ;; esac; done
case \$1 in
  is-enabled) [ -e "$W/enabled/\$s" ] && echo enabled || echo disabled ;;
  is-active) [ -e "$W/running/\$s" ] ;;
  stop) rm -f "$W/running/\$s" ;;
  disable) rm -f "$W/enabled/\$s" ;;
esac
F
  cat > "$W/bin/service" <<F
#!/bin/bash
echo "service \$*" >> "$W/log"
case \$2 in status) [ -e "$W/running/\$1" ] ;; stop) rm -f "$W/running/\$1" ;; esac
F
  cat > "$W/bin/update-rc.d" <<F
#!/bin/bash
echo "update-rc.d \$*" >> "$W/log"
[ "\$2" = disable ] && rm -f "$W/etc/rc2.d/S01\$1"
F
  chmod +x "$W"/bin/*
}
installed() { for p in "$@"; do echo "$p install ok installed" >> "$W/status"; done; }
# Runs install_missing in a subshell on the fake machine; output in $W/out.
run_deps() {
  (PATH="$W/bin:$W/tools" EXP_POLICY_RC="$W/policy-rc.d" EXP_RC_ROOT="$W/etc" EXP_SYSTEMD_RUN="$W/run-systemd"
   source "$SRC/scripts/deps.sh"; install_missing "$@") > "$W/out" 2>&1
}
all_run() { (source "$SRC/scripts/deps.sh"; echo "${RUN_PACKAGES[@]}"); }
all_test() { (source "$SRC/scripts/deps.sh"; echo "${TEST_PACKAGES[@]}"); }
installs() { grep "^apt-get install" "$W/log" | sed 's/.*--no-install-recommends //; s/ uid=.*//'; }

# Removed but not purged counts as missing; run installs no test package.
CASE="status word"; machine systemd 0 ""
installed $(all_run | sed 's/\bcmake\b//'); echo "cmake deinstall ok config-files" >> "$W/status"
run_deps run || fail "install_missing failed: $(cat "$W/out")"
[ "$(installs)" = cmake ] || fail "installed '$(installs)', want cmake"
grep -q "^sudo" "$W/log" && fail "used sudo as root"
rm -rf "$W"

CASE="run is enough"; machine systemd 0 ""
installed $(all_run)
run_deps run || fail "failed"
[ -s "$W/log" ] && fail "ran $(cat "$W/log")"
rm -rf "$W"

# The test install on either init system: the policy refuses starts during
# the install and is gone after it; what the install enabled is disabled;
# a service already running before stays as it was.
for init in systemd sysv; do
  CASE="test install, $init"; machine $init 0 ""
  installed $(all_run) $(all_test | sed 's/\bpostgresql-15\b//; s/\bhaproxy\b//')
  touch "$W/enabled/firebird3.0" "$W/running/firebird3.0"
  ln -s ../init.d/firebird3.0 "$W/etc/rc2.d/S01firebird3.0"; printf '#!/bin/sh\n' > "$W/etc/init.d/firebird3.0"; chmod +x "$W/etc/init.d/firebird3.0"
  run_deps test || fail "failed: $(cat "$W/out")"
  [ "$(installs)" = "postgresql-15 haproxy" ] || fail "installed '$(installs)'"
  grep -q "^apt-get install.*policy=yes" "$W/log" || fail "no policy during the install"
  [ -e "$W/policy-rc.d" ] && fail "policy left behind"
  for s in postgresql haproxy; do
    [ -e "$W/enabled/$s" ] && fail "$s left enabled (systemd)"
    [ -e "$W/etc/rc2.d/S01$s" ] && fail "$s left enabled (SysV)"
    [ -e "$W/running/$s" ] && fail "$s left running"
  done
  [ -e "$W/enabled/firebird3.0" ] && [ -e "$W/running/firebird3.0" ] && [ -e "$W/etc/rc2.d/S01firebird3.0" ] ||
    fail "a service enabled and running before was touched"
  rm -rf "$W"
done

# An administrator's own policy that lets services start is kept; whatever
# the install started is stopped again.
CASE="own policy allows starts"; machine sysv 0 ""
installed $(all_run) $(all_test | sed 's/\bhaproxy\b//')
printf '#!/bin/sh\nexit 0\n' > "$W/policy-rc.d"; chmod +x "$W/policy-rc.d"
run_deps test || fail "failed: $(cat "$W/out")"
grep -q "exit 0" "$W/policy-rc.d" || fail "the administrator's policy was replaced or removed"
grep -q "^service haproxy stop" "$W/log" || fail "haproxy started by the install was not stopped"
[ -e "$W/running/haproxy" ] && fail "haproxy left running"
rm -rf "$W"

CASE="not root, sudo"; machine systemd 1000 sudo
installed $(all_run | sed 's/\bcurl\b//')
run_deps run || fail "failed: $(cat "$W/out")"
grep -q "^sudo .*apt-get install .*curl" "$W/log" || fail "apt-get not run through sudo: $(cat "$W/log")"
rm -rf "$W"

CASE="neither root nor sudo"; machine systemd 1000 ""
installed $(all_run | sed 's/\bcurl\b//')
run_deps run && fail "succeeded without root"
grep -q "apt-get" "$W/log" && fail "ran apt-get"
grep -q "root ou ter o sudo" "$W/out" && grep -q "curl" "$W/out" || fail "unclear message: $(cat "$W/out")"
rm -rf "$W"

[ $FAILS -eq 0 ] && echo "deps: all cases passed"
exit $((FAILS > 0))

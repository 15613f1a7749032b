# Debian packages the product needs, by name; sourced by run.sh and test.sh.
#   install_missing run    what building and running the demo needs
#   install_missing test   that plus what the test suite needs (databases,
#                          proxy, display, TLS tools)
# Only packages not yet installed are installed. Packages whose install
# scripts start system services (PostgreSQL, HAProxy) are installed with
# service starts refused, and whatever the install enabled or started anyway
# is stopped and disabled again: the tests start their own throw-away servers
# and a development machine is left as it was.
RUN_PACKAGES=(build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6sql6-sqlite
  libcpp-httplib-dev libsodium-dev libsqlite3-dev libboost-dev prometheus-cpp-dev libssl-dev libpugixml-dev
  fontconfig fonts-dejavu-core fonts-dejavu-extra curl
  libxlsxwriter-dev qt6-translations-l10n)
TEST_PACKAGES=(libgtest-dev libgmock-dev qt6-base-private-dev libqt6sql6-psql libqt6sql6-ibase
  xvfb xauth postgresql-15 firebird3.0-server-core firebird3.0-utils
  rapidjson-dev openssl haproxy logrotate unzip)
# System services that packages above may bring and start.
SYSTEM_SERVICES=(postgresql haproxy firebird3.0)
# Where Debian's invoke-rc.d and deb-systemd-invoke look for a policy.
POLICY_RC=${EXP_POLICY_RC:-/usr/sbin/policy-rc.d}

# Prints those of the named packages that are not installed. A package
# counts as installed only when its status says so: one removed but not
# purged ("deinstall ok config-files") has no files left to use.
not_installed() {
  local installed p
  installed=$(dpkg-query -W -f='${Package} ${Status}\n' "$@" 2>/dev/null |
    awk '$2 == "install" && $3 == "ok" && $4 == "installed" {print $1}')
  for p in "$@"; do
    grep -qxF "$p" <<<"$installed" || echo "$p"
  done
}

# Runs a command as root: directly when already root, else through sudo.
# Returns 1 with a message when neither is possible.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    return 1
  fi
}

can_be_root() { [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null 2>&1; }

systemd_running() { [ -d "${EXP_SYSTEMD_RUN:-/run/systemd/system}" ]; }

# "enabled" when the service starts at boot (systemd or SysV links).
service_enabled() {
  local s=$1
  if command -v systemctl >/dev/null 2>&1 &&
     [ "$(systemctl is-enabled "$s.service" 2>/dev/null)" = enabled ]; then
    return 0
  fi
  compgen -G "${EXP_RC_ROOT:-/etc}/rc[2345].d/S[0-9][0-9]$s" >/dev/null
}

service_running() {
  local s=$1
  if systemd_running; then
    systemctl is-active --quiet "$s.service" 2>/dev/null
  else
    [ -x "${EXP_RC_ROOT:-/etc}/init.d/$s" ] && service "$s" status >/dev/null 2>&1
  fi
}

# Prints "name:enabled:running" for each known service.
services_state() {
  local s e r
  for s in "${SYSTEM_SERVICES[@]}"; do
    e=0; r=0
    service_enabled "$s" && e=1
    service_running "$s" && r=1
    echo "$s:$e:$r"
  done
}

# Stops and disables the services whose state the install changed.
# $1: services_state before the install.
undo_service_changes() {
  local before=$1 s e r was
  while IFS=: read -r s e r; do
    was=$(grep "^$s:" <<<"$before" || true)
    if [ "$r" = 1 ] && [ "${was##*:}" != 1 ]; then
      echo "Parando o serviço $s, iniciado pela instalação (os testes iniciam os seus)." >&2
      if systemd_running; then as_root systemctl stop "$s.service" || true
      else as_root service "$s" stop >/dev/null 2>&1 || true; fi
    fi
    was=${was#*:}; was=${was%%:*}
    if [ "$e" = 1 ] && [ "$was" != 1 ]; then
      echo "Desativando o serviço $s, ativado pela instalação." >&2
      if command -v systemctl >/dev/null 2>&1; then
        as_root systemctl disable --quiet "$s.service" >/dev/null 2>&1 || true
      fi
      if [ -e "${EXP_RC_ROOT:-/etc}/init.d/$s" ] && command -v update-rc.d >/dev/null 2>&1; then
        as_root update-rc.d "$s" disable >/dev/null 2>&1 || true
      fi
    fi
  done < <(services_state)
}

# A policy that refuses every service start while packages install; left
# alone when the machine already has one (it is the administrator's).
POLICY_ADDED=""
refuse_service_starts() {
  [ -e "$POLICY_RC" ] && return 0
  as_root sh -c "printf '#!/bin/sh\n# Placed by scripts/deps.sh during a package install.\nexit 101\n' > '$POLICY_RC' && chmod 755 '$POLICY_RC'" &&
    POLICY_ADDED=1
}
allow_service_starts() {
  [ -n "$POLICY_ADDED" ] || return 0
  as_root rm -f "$POLICY_RC"
  POLICY_ADDED=""
}

install_missing() {
  local which=${1:-test} wanted=("${RUN_PACKAGES[@]}") missing=()
  [ "$which" = test ] && wanted+=("${TEST_PACKAGES[@]}")
  mapfile -t missing < <(not_installed "${wanted[@]}")
  [ ${#missing[@]} -eq 0 ] && return 0
  if ! can_be_root; then
    cat >&2 <<EOF
Faltam pacotes do Debian: ${missing[*]}
Para instalá-los é preciso ser root ou ter o sudo, e aqui não há nenhum dos dois.
Instale-os como root e rode de novo:
  su -c 'apt-get update && apt-get install --no-install-recommends ${missing[*]}'
EOF
    return 1
  fi
  echo "Instalando pacotes do Debian: ${missing[*]}" >&2
  local before status=0
  before=$(services_state)
  refuse_service_starts
  # The policy goes away however the install ends, interrupted too.
  trap 'allow_service_starts; exit 130' INT TERM
  as_root apt-get update -qq || status=$?
  if [ $status -eq 0 ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
      status=$?
  fi
  allow_service_starts
  trap - INT TERM
  undo_service_changes "$before"
  if [ $status -ne 0 ]; then
    echo "A instalação dos pacotes falhou (apt-get terminou com $status)." >&2
    return $status
  fi
}

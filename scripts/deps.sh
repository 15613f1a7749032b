# Debian packages the product needs to build, run and test; sourced by
# run.sh and test.sh. install_missing installs only what is not there yet.
PACKAGES=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-ibase
  libcpp-httplib-dev libsodium-dev libsqlite3-dev libboost-dev xvfb xauth fontconfig fonts-dejavu-core fonts-dejavu-extra
  postgresql-15 firebird3.0-server-core firebird3.0-utils curl rapidjson-dev openssl libssl-dev libpugixml-dev haproxy)

install_missing() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

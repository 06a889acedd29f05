#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need; does nothing when all are
# there already. Pass --run-only for what running the programs needs alone.
set -euo pipefail

build_pkgs=(g++ make cmake pkg-config qt6-base-dev qt6-serialport-dev qt6-5compat-dev
    libxlsxwriter-dev zlib1g-dev libbenchmark-dev fonts-nanum)
test_pkgs=(socat python3 python3-pymodbus python3-serial-asyncio python3-serial python3-openpyxl mbpoll
    clang libclang-rt-14-dev xvfb xauth libmodbus-dev)
run_pkgs=(libqt6core6 libqt6network6 libqt6serialport6 libqt6gui6 libqt6widgets6 libqt6core5compat6
    qt6-qpa-plugins libxlsxwriter4 fonts-nanum)

# The fleet exporter: its YAML config files, bcrypt passwords and the metrics endpoint; the
# Prometheus server and promtool check what it serves.
build_pkgs+=(libyaml-cpp-dev libcrypt-dev prometheus-cpp-dev)
# HTTPS comes through Qt's TLS plugin (in libqt6network6); the tests make their certificates
# with the openssl command.
test_pkgs+=(prometheus openssl)
run_pkgs+=(libyaml-cpp0.7 libcrypt1 libprometheus-cpp-core1.0 libprometheus-cpp-pull1.0)

# Trend recordings: one SQLite file per controller (the page draws them with QPainter).
build_pkgs+=(libsqlite3-dev)
run_pkgs+=(libsqlite3-0)
# A recorder whose clock is set back while it records.
test_pkgs+=(faketime)

# The Debian package: its man pages (help2man), shared-library dependencies (dpkg-dev) and the
# checks the tests run on it.
build_pkgs+=(help2man dpkg-dev)
test_pkgs+=(lintian desktop-file-utils appstream systemd man-db)

# The serial doctor's tests examine ports as an unprivileged user (setpriv).
test_pkgs+=(util-linux)

case "${1:-}" in
    --run-only) wanted=("${run_pkgs[@]}") ;;
    *) wanted=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
esac

missing=()
for p in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian 12 packages the program and its tests need; installs
# nothing when they are all there already. Run as root (or with sudo).
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libqt6sql6 libsqlite3-dev sqlite3 qt6-serialport-dev libssl-dev
  qt6-httpserver-dev qt6-websockets-dev libsystemd-dev
  dpkg-dev lintian systemd systemd-container debootstrap prometheus chromium curl
  clang libclang-rt-14-dev python3
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-liberation
  unixodbc unixodbc-dev odbc-postgresql postgresql
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

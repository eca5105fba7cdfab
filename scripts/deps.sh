#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, only when missing.
# Names given as arguments are installed too (scripts/build-windows.sh adds its compiler and
# Wine). Runs as root on the project's machines; elsewhere it uses sudo when it is available.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config clang
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-charts-dev qt6-serialport-dev libqt6opengl6-dev
    libxlsxwriter-dev liborcus-dev libfreexl-dev libzip-dev zlib1g-dev libcli11-dev
    qt6-translations-l10n ser2net
    python3 python3-openpyxl fonts-dejavu-core xvfb xauth poppler-utils
    libreoffice-calc-nogui
    dpkg-dev desktop-file-utils appstream librsvg2-bin groff-base file strace
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "Run as root or install: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

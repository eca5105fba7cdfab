#!/usr/bin/env bash
# Screenshots of the four pages against the simulated sensor, in one language of the shipped
# language file, made with the installed programs of the Debian package in build-package/
# (run scripts/test-package.sh first). The choice of language is the user's copy of the
# language file in a temporary config folder, as a choice in the window would make it.
#   scripts/screenshots.sh [LANGUAGE [PREFIX]]   default: English, en_
# writes docs/screenshots/PREFIXprogram_page.png, ..._oscilloscope_page.png, ...
set -euo pipefail
cd "$(dirname "$0")/.."
language=${1:-English}
prefix=${2:-en_}
deb=$(ls build-package/vq31-install-service_*.deb)

root=$(mktemp -d "${TMPDIR:-/tmp}/vq31-shots.XXXXXX")
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$root/tree"
usr=$root/tree/usr
config=$root/config/vq31-install-service
mkdir -p "$config"
sed -E "s/^SELECTED=.*/SELECTED=$language/" \
    "$usr/share/vq31-install-service/vQ31_Install_Service.lng" >"$config/vQ31_Install_Service.lng"

link=$root/vq31
"$usr/bin/vq31-sim" --link "$link" </dev/null >"$root/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$link" ] && break
    sleep 0.1
done
[ -e "$link" ] || { echo "the simulator did not start" >&2; exit 1; }

mkdir -p docs/screenshots
page=0
for name in program_page oscilloscope_page tare_page settings_page; do
    XDG_CONFIG_HOME=$root/config QT_QPA_PLATFORM=offscreen "$usr/bin/vq31-install-service" \
        --port "$link" --open --page "$page" --quit-after 5 \
        --screenshot "docs/screenshots/$prefix$name.png"
    echo "docs/screenshots/$prefix$name.png"
    page=$((page + 1))
done

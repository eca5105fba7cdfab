#!/usr/bin/env bash
# Screenshots of the four pages against the simulated sensor, in one language of the shipped
# language file, made with the installed programs of the Debian package in build-package/
# (run scripts/test-package.sh first). The choice of language is the user's copy of the
# language file in a temporary config folder, as a choice in the window would make it.
#   scripts/screenshots.sh [LANGUAGE [PREFIX [WIDTHxHEIGHT]]]   default: English, en_
# writes docs/screenshots/PREFIXprogram_page.png, ..._oscilloscope_page.png, ...
# With a screen size the window runs on an X server of that size (Xvfb), so it takes the
# size and place it gets on such a screen; without one, offscreen at its default size.
# VQ31_PROGRAMS=DIR takes the programs from a build folder (DIR/app, DIR/sim) instead of
# the package.
set -euo pipefail
cd "$(dirname "$0")/.."
language=${1:-English}
prefix=${2:-en_}
screen=${3:-}

root=$(mktemp -d "${TMPDIR:-/tmp}/vq31-shots.XXXXXX")
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT
if [ -n "${VQ31_PROGRAMS:-}" ]; then
    window=$VQ31_PROGRAMS/app/vq31-install-service
    sim=$VQ31_PROGRAMS/sim/vq31-sim
    lng=app/lang/vQ31_Install_Service.lng
else
    deb=$(ls build-package/vq31-install-service_*.deb)
    dpkg-deb -x "$deb" "$root/tree"
    window=$root/tree/usr/bin/vq31-install-service
    sim=$root/tree/usr/bin/vq31-sim
    lng=$root/tree/usr/share/vq31-install-service/vQ31_Install_Service.lng
fi
config=$root/config/vq31-install-service
mkdir -p "$config"
sed -E "s/^SELECTED=.*/SELECTED=$language/" "$lng" >"$config/vQ31_Install_Service.lng"
if [ -n "${VQ31_PROGRAMS:-}" ]; then
    # A build folder's window takes the language file beside it: give it its own folder.
    mkdir -p "$root/bin"
    cp "$window" "$root/bin/"
    cp "$config/vQ31_Install_Service.lng" "$root/bin/"
    window=$root/bin/$(basename "$window")
fi

link=$root/vq31
"$sim" --link "$link" </dev/null >"$root/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$link" ] && break
    sleep 0.1
done
[ -e "$link" ] || { echo "the simulator did not start" >&2; exit 1; }

mkdir -p docs/screenshots
page=0
for name in program_page oscilloscope_page tare_page settings_page; do
    run=(env XDG_CONFIG_HOME="$root/config" QT_QPA_PLATFORM=offscreen)
    if [ -n "$screen" ]; then
        run=(env XDG_CONFIG_HOME="$root/config" QT_QPA_PLATFORM=xcb
            xvfb-run -a -s "-screen 0 ${screen}x24")
    fi
    "${run[@]}" "$window" --port "$link" --open --page "$page" --quit-after 5 \
        --screenshot "docs/screenshots/$prefix$name.png"
    echo "docs/screenshots/$prefix$name.png"
    page=$((page + 1))
done

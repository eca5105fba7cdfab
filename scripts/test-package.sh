#!/usr/bin/env bash
# Builds the Debian package in build-package/ (no sanitizers, the flags of ./run so the
# compiler cache is shared), checks its metadata and files, unpacks it into a temporary root
# and runs the installed programs from there: --version of all three, vq31ctl --help and
# against the simulator, and the window under xvfb-run taking a screenshot with its language
# file read from the installed data folder and its settings written to the user's config
# folder. apt checks that the package's dependencies can be met, without installing it.
# Any failure ends the script with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
build=build-package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQ31_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCPACK_STRIP_FILES=ON >/dev/null
cmake --build "$build" -j "$jobs"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vq31-install-service_*.deb)
echo "== package $deb"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then echo "ok: $what"; else fail "$what"; fi
}

version=$(sed -nE 's/^project\([^)]*VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6charts6 libqt6serialport6 libxlsxwriter libfreexl libstdc++6 \
    qt6-qpa-plugins; do
    case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib" ;; esac
done

root=$(mktemp -d "${TMPDIR:-/tmp}/vq31-package.XXXXXX")
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$root/tree"
usr=$root/tree/usr
for f in bin/vq31-install-service bin/vq31ctl bin/vq31-sim \
    share/vq31-install-service/vQ31_Install_Service.lng \
    share/applications/org.vq31.InstallService.desktop \
    share/metainfo/org.vq31.InstallService.metainfo.xml \
    share/icons/hicolor/scalable/apps/org.vq31.InstallService.svg \
    share/icons/hicolor/16x16/apps/org.vq31.InstallService.png \
    share/icons/hicolor/48x48/apps/org.vq31.InstallService.png \
    share/icons/hicolor/256x256/apps/org.vq31.InstallService.png \
    lib/udev/rules.d/60-vq31-adapters.rules \
    share/man/man1/vq31ctl.1.gz share/man/man1/vq31-sim.1.gz \
    share/man/man1/vq31-install-service.1.gz; do
    [ -f "$usr/$f" ] || fail "missing /usr/$f"
done

check "desktop entry valid" desktop-file-validate "$usr/share/applications/org.vq31.InstallService.desktop"
check "metainfo valid" appstreamcli validate --no-net \
    "$usr/share/metainfo/org.vq31.InstallService.metainfo.xml"
for png in "$usr"/share/icons/hicolor/*x*/apps/org.vq31.InstallService.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    file "$png" | grep -q "PNG image data, ${size/x/ x }," || fail "icon $png is not $size"
done
for page in "$usr"/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    zcat "$page" | grep -q "@VERSION@" && fail "$(basename "$page") lacks its version"
done
rules=$usr/lib/udev/rules.d/60-vq31-adapters.rules
for word in 'ENV{ID_MM_DEVICE_IGNORE}="1"' 'TAG+="uaccess"' 'ATTR{latency_timer}="1"' \
    '"0403"' '"10c4"' '"1a86"' '"067b"'; do
    grep -qF "$word" "$rules" || fail "udev rule lacks $word"
done
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    check "udev rule syntax" udevadm verify "$rules"
fi

# apt resolves the dependencies for a simulated install (nothing is changed): a dependency
# that Debian does not have fails it.
check "apt can install the package with its dependencies" \
    apt-get install -s -qq "$(realpath "$deb")"

# The installed programs, run from the unpacked tree with a home folder of their own.
home=$root/home
mkdir -p "$home"
run() { env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 "$@"; }
for p in vq31-install-service vq31ctl vq31-sim; do
    out=$(run "$usr/bin/$p" --version 2>&1) || fail "$p --version exits with an error"
    case "$out" in *"$version"*) echo "ok: $out" ;; *) fail "$p --version says '$out'" ;; esac
done
help=$(run "$usr/bin/vq31ctl" --help 2>&1) || fail "vq31ctl --help exits with an error"
for word in "usage: vq31ctl" search info poll params hub tanks tare snapshot; do
    case "$help" in *"$word"*) ;; *) fail "vq31ctl --help lacks '$word'" ;; esac
done

link=$root/vq31
# Started without the shell function, so that $! is the simulator itself and the kill below
# reaches it.
env -i PATH=/usr/bin:/bin HOME="$home" "$usr/bin/vq31-sim" --link "$link" </dev/null \
    >"$root/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$link" ] && break
    sleep 0.1
done
[ -e "$link" ] || { fail "the installed simulator did not start"; cat "$root/sim.log"; }
check "installed vq31ctl finds the simulator" run "$usr/bin/vq31ctl" --port "$link" search

shot=$root/window.png
if run timeout 120 strace -f -e trace=openat -o "$root/opens.log" \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$usr/bin/vq31-install-service" --port "$link" --open --screenshot "$shot" \
    --quit-after 4 >"$root/window.log" 2>&1; then
    echo "ok: the installed window ran"
else
    fail "the installed window failed"
    cat "$root/window.log"
fi
if file "$shot" 2>/dev/null | grep -q "PNG image data"; then
    cp "$shot" "$build/installed-window.png"
else
    fail "no screenshot of the installed window"
fi
grep -q "$usr/share/vq31-install-service/vQ31_Install_Service.lng\", O_RDONLY" "$root/opens.log" ||
    fail "the window did not read its installed language file"
config=$home/.config/vq31-install-service
[ -f "$config/vQ31_Install_Service.ini" ] || fail "no settings in $config"
grep -q "PORT=$link" "$config/vQ31_Install_Service.ini" 2>/dev/null ||
    fail "the settings do not hold the port"
[ ! -e "$usr/bin/vQ31_Install_Service.ini" ] || fail "settings written beside the installed program"

kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
kill -0 "$sim_pid" 2>/dev/null && fail "the installed simulator did not end on SIGTERM"
sim_pid=""

if [ "$failures" -ne 0 ]; then
    echo "package: $failures checks failed"
    exit 1
fi
echo "package: every check passed ($deb)"

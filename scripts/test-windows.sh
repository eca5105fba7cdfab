#!/usr/bin/env bash
# Runs the Windows build under Wine: the link, worker and file unit tests and the workbook
# reader's child process, then vq31ctl.exe against the native simulator through a COM port
# that Wine maps to the simulator's pseudo-terminal. The Wine user is named in Cyrillic, so
# the user profile folder and the snapshots saved in it have a Cyrillic path.
# Every command is also run with the Linux vq31ctl against a fresh simulator of its own, and
# the two outputs must be equal. Then the port list, polling through an unplug, the faults
# (a silent simulator, and a simulator that ends while vq31ctl.exe polls), and the polling
# cycle of both tools measured one after the other against the same simulator speed.
#
#   scripts/test-windows.sh [NATIVE_BUILD_DIR]    (default build/, which has vq31ctl and vq31-sim)
#
# Needs build-windows/ from scripts/build-windows.sh. Skips with a message (exit 0) when Wine
# cannot run programs here; exit 1 on any failure. Every step is bounded in time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=$(cd "${1:-build}" && pwd)
win=$root/build-windows

sim=$native/sim/vq31-sim
ctl=$native/ctl/vq31ctl
exe=$win/ctl/vq31ctl.exe
for f in "$sim" "$ctl" "$exe" "$win/tests/windows/test_link_unit.exe" \
    "$win/tests/windows/test_worker_unit.exe" "$win/tests/windows/test_child_process.exe" \
    "$win/tests/windows/test_fileio_unit.exe"; do
    [ -e "$f" ] || { echo "test-windows: $f is missing (build it first)"; exit 1; }
done

wine=$(command -v wine64 || command -v wine || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
if [ -z "$wine" ]; then
    echo "test-windows: skipped, Wine is not installed"
    exit 0
fi

work=$(mktemp -d /tmp/vq31-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine names the user profile folder after $USER (C:\users\Пётр); a UTF-8 locale carries the
# name into Windows text unchanged.
export USER=Пётр LANG=C.UTF-8
profile=$WINEPREFIX/drive_c/users/$USER
# Snapshots of the Linux runs go into the test folder, not the user's data folder.
export XDG_DATA_HOME=$work/data
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -d "$WINEPREFIX" ]; then
        timeout 20 "$(dirname "$wine")/wineserver" -k 2>/dev/null ||
            timeout 20 wineserver -k 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

start=$(date +%s)
if ! timeout 180 "$wine" wineboot -i >"$work/wineboot.log" 2>&1 ||
    ! timeout 60 "$wine" cmd /c exit 0 >/dev/null 2>&1; then
    echo "test-windows: skipped, Wine cannot run programs here:"
    tail -n 5 "$work/wineboot.log"
    exit 0
fi
echo "== Wine prefix ready in $(($(date +%s) - start)) s"

fail=0
failed() {
    echo "FAILED: $*"
    fail=1
}

# -- The simulator. start_sim NAME ARGS... starts one with its control lines on a fifo and
# sets sim_pty and sim_pid; control NAME LINE sends it a line.
start_sim() {
    local name=$1
    shift
    mkfifo "$work/$name.ctl"
    "$sim" "$@" <"$work/$name.ctl" >"$work/$name.out" 2>&1 &
    sim_pid=$!
    sims+=("$sim_pid")
    # Holds the fifo open for writing so the simulator sees no end of input.
    eval "exec {fd_$name}>\"$work/$name.ctl\""
    sim_pty=""
    for _ in $(seq 50); do
        sim_pty=$(grep -o '/dev/pts/[0-9]*' "$work/$name.out" | head -n 1 || true)
        [ -n "$sim_pty" ] && break
        sleep 0.1
    done
    [ -n "$sim_pty" ] || { cat "$work/$name.out"; echo "the simulator did not start"; exit 1; }
}
control() {
    local fd_var="fd_$1"
    echo "$2" >&"${!fd_var}"
    sleep 0.2
}
map_com() { # map_com N PTY
    ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

# -- Unit tests of the Windows build; the port tests use a silent simulator on COM8 and a
# device that is no serial port on COM14.
start_sim unitsim --baud 9600
map_com 8 "$sim_pty"
map_com 14 /dev/null
for t in test_link_unit test_worker_unit test_child_process test_fileio_unit; do
    echo "== $t.exe under Wine"
    if ! VQ31_TEST_COM=COM8 VQ31_TEST_NOT_SERIAL=COM14 timeout 300 "$wine" \
        "$win/tests/windows/$t.exe" >"$work/$t.log" 2>&1; then
        cat "$work/$t.log"
        failed "$t.exe"
    else
        grep -E '^\[  (PASSED|SKIPPED) ' "$work/$t.log" || true
    fi
done

# Hub image with one table value changed and the checksum made right again, so the device
# keeps it as it is.
change_image() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
size = struct.unpack_from("<H", data, 0)[0]
offset = size - 2 if size >= 18 else 16
word = struct.unpack_from("<H", data, offset)[0]
struct.pack_into("<H", data, offset, (word + 7) & 0xFFFF)
struct.pack_into("<H", data, 2, 0xFFFF)
total = sum(struct.unpack_from("<%dH" % (size // 2), data, 0)) & 0xFFFF
struct.pack_into("<H", data, 2, (0xFFFF - total) & 0xFFFF)
open(sys.argv[2], "wb").write(data)
PY
}

# run_sequence TAG TOOL... PORT: the same commands through one tool; outputs in $work/TAG/.
# The simulator answers at 9600 bit/s at address 7, so search must find both.
run_sequence() {
    local tag=$1 port=$2
    shift 2
    local dir=$work/$tag
    mkdir -p "$dir"
    local -a tool=("$@")
    local -a at=(--port "$port" --baud 9600 --address 7)
    (
        cd "$dir"
        run() { # run NAME SECONDS ARGS...
            local name=$1 limit=$2
            shift 2
            local rc=0
            timeout "$limit" "${tool[@]}" "$@" >"$name.out" 2>"$name.err" || rc=$?
            echo "$rc" >"$name.rc"
        }
        run search 60 --port "$port" search
        run info 20 "${at[@]}" info
        run echo 20 "${at[@]}" echo
        local t0 t1
        t0=$(date +%s%N)
        run poll 30 "${at[@]}" poll --seconds 2
        t1=$(date +%s%N)
        echo $(((t1 - t0) / 1000000)) >poll.ms
        run setfreq 20 "${at[@]}" set freq 1500
        run hubread 30 "${at[@]}" hub read hub-a.bin
        change_image hub-a.bin hub-b.bin
        run hubwrite 30 "${at[@]}" hub write hub-b.bin
        run hubreadback 30 "${at[@]}" hub read hub-c.bin
        run workbook 20 "${at[@]}" tare export table.xlsx
    )
}

# Output of a command with Windows line ends made plain; the echo lines of polling keep the
# settings and measurements but not the frame counter and the noisy samples, and repeated
# lines are counted once (how many refreshes fit in a time depends on the machine).
# The snapshot a write saves first lies in each system's own data folder.
plain() { tr -d '\r' <"$1" | sed -E 's/^(snapshot before the write: ).*/\1(data folder)/'; }
plain_poll() {
    tr -d '\r' <"$1" | sed -E '/^echo: /{s/, frame [0-9]+//; s/ \| [0-9]+ samples .*//}' |
        sed -E 's/^polls: [0-9]+ refreshes$/polls: N refreshes/' | uniq
}

echo "== vq31ctl.exe under Wine and vq31ctl on Linux, simulator at 9600 bit/s, address 7"
start_sim winsim --baud 9600 --address 7
map_com 9 "$sim_pty"
run_sequence windows COM9 "$wine" "$exe"
start_sim linuxsim --baud 9600 --address 7
run_sequence linux "$sim_pty" "$ctl"

for name in search info echo poll setfreq hubread hubwrite hubreadback; do
    for tag in windows linux; do
        rc=$(cat "$work/$tag/$name.rc")
        [ "$rc" = 0 ] || { failed "$tag $name: exit $rc"; plain "$work/$tag/$name.err"; }
    done
    if [ "$name" = poll ] || [ "$name" = setfreq ]; then
        diff <(plain_poll "$work/windows/$name.out") <(plain_poll "$work/linux/$name.out") \
            >"$work/$name.diff" || { failed "$name output differs"; cat "$work/$name.diff"; }
    else
        diff <(plain "$work/windows/$name.out") <(plain "$work/linux/$name.out") \
            >"$work/$name.diff" || { failed "$name output differs"; cat "$work/$name.diff"; }
        diff <(plain "$work/windows/$name.err") <(plain "$work/linux/$name.err") \
            >"$work/$name.errdiff" || { failed "$name messages differ"; cat "$work/$name.errdiff"; }
    fi
done
cmp -s "$work/windows/hub-a.bin" "$work/windows/hub-b.bin" && failed "the hub image was not changed"
cmp "$work/windows/hub-b.bin" "$work/windows/hub-c.bin" || failed "hub image read back differs"
cmp "$work/linux/hub-b.bin" "$work/linux/hub-c.bin" || failed "hub image read back differs (Linux)"
cmp "$work/windows/hub-c.bin" "$work/linux/hub-c.bin" || failed "hub images differ between the tools"
rc=$(cat "$work/windows/workbook.rc")
if [ "$rc" != 2 ] || ! grep -q "no workbook support" "$work/windows/workbook.err"; then
    failed "workbook command: exit $rc, $(plain "$work/windows/workbook.err")"
fi

# The snapshot saved before the hub write lies in the Cyrillic-named profile folder, under
# the name it was reported with.
echo "== snapshot in the profile folder of user $USER"
shown=$(tr -d '\r' <"$work/windows/hubwrite.out" | sed -n 's/^snapshot before the write: //p')
snapshots="$profile/AppData/Local/vq31-install-service/snapshots"
saved=$(ls "$snapshots" 2>/dev/null | grep -E '^sn[0-9]{6}-.*\.snapshot$' | head -n 1 || true)
echo "reported: $shown"
if [ -z "$saved" ] || [ ! -s "$snapshots/$saved" ]; then
    failed "no snapshot file in $snapshots"
elif [ "$shown" != "C:\\users\\$USER\\AppData\\Local\\vq31-install-service\\snapshots\\$saved" ]; then
    failed "the snapshot was reported as '$shown', saved as $snapshots/$saved"
fi

# The port list comes from the registry's serial device map, in COM number order.
echo "== vq31ctl.exe ports"
for n in 12 9; do
    timeout 60 "$wine" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\VQ31Test$n" \
        /t REG_SZ /d "COM$n" /f >/dev/null 2>&1 || failed "reg add COM$n"
done
timeout 60 "$wine" "$exe" ports >"$work/ports.out" 2>&1 || failed "vq31ctl.exe ports: exit $?"
tr -d '\r' <"$work/ports.out"
listed=$(tr -d '\r' <"$work/ports.out" | grep -E '^COM(9|12) ' | awk '{print $1 "=" $2}' | tr '\n' ' ')
[ "$listed" = 'COM9=\Device\VQ31Test9 COM12=\Device\VQ31Test12 ' ] ||
    failed "ports: COM9 and COM12 in order with their device names expected, got '$listed'"

# poll --reopen: the adapter unplugged (the simulator ends and its COM port leaves the serial
# device map) and plugged in again (a new simulator behind the same COM port, listed again)
# is reconnected, and the refreshes go on.
echo "== poll --reopen through an unplug"
serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
start_sim unplug --baud 9600 --address 7
map_com 16 "$sim_pty"
timeout 60 "$wine" reg add "$serialcomm" /v '\Device\VQ31Test16' /t REG_SZ /d COM16 /f \
    >/dev/null 2>&1 || failed "reg add COM16"
timeout 60 "$wine" "$exe" --port COM16 --baud 9600 --address 7 poll --seconds 15 --reopen \
    >"$work/reopen.out" 2>"$work/reopen.err" &
reopen_pid=$!
for _ in $(seq 200); do
    grep -q '^echo: ' "$work/reopen.out" 2>/dev/null && break
    sleep 0.1
done
kill "$sim_pid"
timeout 60 "$wine" reg delete "$serialcomm" /v '\Device\VQ31Test16' /f >/dev/null 2>&1 ||
    failed "reg delete COM16"
sleep 2
start_sim plugged --baud 9600 --address 7
map_com 16 "$sim_pty"
timeout 60 "$wine" reg add "$serialcomm" /v '\Device\VQ31Test16' /t REG_SZ /d COM16 /f \
    >/dev/null 2>&1 || failed "reg add COM16"
rc=0
wait "$reopen_pid" || rc=$?
unplugged=$(tr -d '\r' <"$work/reopen.out" | grep -E '^port: COM16 (was unplugged|is back)' || true)
echo "$unplugged"
after=$(tr -d '\r' <"$work/reopen.out" | sed -n '/is back at/,$p' | grep -c '^echo: ' || true)
echo "exit $rc, $after refreshes after the reconnect"
grep -q 'was unplugged at' <<<"$unplugged" && grep -q 'is back at' <<<"$unplugged" ||
    failed "poll --reopen did not see the unplug and the return: $(tr -d '\r' <"$work/reopen.err")"
[ "$after" -ge 2 ] || failed "poll --reopen: only $after refreshes after the reconnect"
[ "$rc" = 1 ] || failed "poll --reopen: exit $rc (1 expected: answers were lost)"

polls() { grep -c '^echo: ' "$1" || true; }
wp=$(polls "$work/windows/poll.out")
lp=$(polls "$work/linux/poll.out")
echo "poll for 2 s: $wp refreshes under Wine ($(cat "$work/windows/poll.ms") ms in all)," \
    "$lp on Linux ($(cat "$work/linux/poll.ms") ms)"
[ "$wp" -ge 2 ] || failed "vq31ctl.exe refreshed the echo only $wp times in 2 s"

# -- Faults.
echo "== a silent simulator gives no answer"
start_sim silent --baud 9600 --address 7
map_com 10 "$sim_pty"
control silent "fault silent 1000"
t0=$(date +%s%N)
rc=0
timeout 30 "$wine" "$exe" --port COM10 --baud 9600 --address 7 info >"$work/silent.out" \
    2>"$work/silent.err" || rc=$?
t1=$(date +%s%N)
echo "exit $rc after $(((t1 - t0) / 1000000)) ms: $(plain "$work/silent.err" | head -n 1)"
[ "$rc" = 1 ] || failed "silent simulator: exit $rc (1 expected)"
grep -q "Device does not answer" "$work/silent.err" || failed "silent simulator: no 'no answer' text"

echo "== the simulator ends while vq31ctl.exe polls"
start_sim ending --baud 9600 --address 7
ending_pid=$sim_pid
map_com 11 "$sim_pty"
timeout 60 "$wine" "$exe" --port COM11 --baud 9600 --address 7 poll --seconds 30 \
    >"$work/ending.out" 2>"$work/ending.err" &
poll_pid=$!
for _ in $(seq 100); do
    grep -q '^echo: ' "$work/ending.out" 2>/dev/null && break
    sleep 0.1
done
kill "$ending_pid"
t0=$(date +%s%N)
ended=""
for _ in $(seq 30); do
    if ! kill -0 "$poll_pid" 2>/dev/null; then
        ended=yes
        break
    fi
    sleep 0.1
done
t1=$(date +%s%N)
rc=0
if [ -z "$ended" ]; then
    failed "vq31ctl.exe still polls 3 s after the simulator ended"
    kill "$poll_pid" 2>/dev/null || true
fi
wait "$poll_pid" || rc=$?
echo "exit $rc after $(((t1 - t0) / 1000000)) ms: $(plain "$work/ending.err" | tail -n 1)"
[ "$rc" != 0 ] || failed "the simulator ended mid-poll, yet vq31ctl.exe reported success"
[ -s "$work/ending.err" ] || failed "the simulator ended mid-poll without a message"

# -- The echo polling cycle of both tools against simulators at 19200 bit/s, in
# VQ31_POLL_ROUNDS rounds (3 unless told) of one run under Wine and one on Linux, each
# polling for VQ31_POLL_SECONDS (10 s unless told), so both tools meet the same load. Every
# round and the median of each tool are printed against the floor of two idle time-outs of
# 17 ms; a figure, not a check.
seconds=${VQ31_POLL_SECONDS:-10}
rounds=${VQ31_POLL_ROUNDS:-3}
# The machine's load goes with the figures: each of Wine's waits and reads is a round trip
# to its server process, which a busy machine delays most.
echo "== polling cycle at 19200 bit/s, $rounds rounds of $seconds s each"
refreshes() { # refreshes FILE: the count a poll run printed, empty when none
    tr -d '\r' <"$1" | sed -n 's/^polls: \([0-9]*\) refreshes$/\1/p'
}
ratio() { awk -v n="$1" -v s="$seconds" 'BEGIN { printf "%.3f", s * 1000 / n / 34 }'; }
median() { # median <<<"R1 R2 ...": the middle one (the lower middle of an even count)
    tr ' ' '\n' | sed '/^$/d' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
wine_ratios=""
linux_ratios=""
for round in $(seq "$rounds"); do
    load=$(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null)
    start_sim "cyclewin$round"
    map_com 13 "$sim_pty"
    timeout $((seconds + 30)) "$wine" "$exe" --port COM13 poll --seconds "$seconds" \
        >"$work/cycle-windows-$round.out" 2>&1 || true
    kill "$sim_pid" 2>/dev/null || true
    start_sim "cyclelinux$round"
    timeout $((seconds + 30)) "$ctl" --port "$sim_pty" poll --seconds "$seconds" \
        >"$work/cycle-linux-$round.out" 2>&1 || true
    kill "$sim_pid" 2>/dev/null || true
    win_n=$(refreshes "$work/cycle-windows-$round.out")
    lin_n=$(refreshes "$work/cycle-linux-$round.out")
    if [ -z "$win_n" ] || [ "$win_n" = 0 ]; then
        failed "polling under Wine gave no refreshes:" \
            "$(tr -d '\r' <"$work/cycle-windows-$round.out" | tail -n 1)"
        continue
    fi
    if [ -z "$lin_n" ] || [ "$lin_n" = 0 ]; then
        failed "polling on Linux gave no refreshes: $(tail -n 1 "$work/cycle-linux-$round.out")"
        continue
    fi
    wine_ratios="$wine_ratios $(ratio "$win_n")"
    linux_ratios="$linux_ratios $(ratio "$lin_n")"
    echo "round $round, load $load: under Wine $win_n refreshes, $(ratio "$win_n") x the floor;" \
        "on Linux $lin_n refreshes, $(ratio "$lin_n") x"
done
if [ -n "$wine_ratios" ]; then
    echo "median of $rounds rounds: vq31ctl.exe under Wine $(median <<<"$wine_ratios") x" \
        "the 34 ms floor, vq31ctl on Linux $(median <<<"$linux_ratios") x"
fi

echo "== Wine tests took $(($(date +%s) - start)) s"
if [ "$fail" != 0 ]; then
    echo "test-windows: FAILED"
    exit 1
fi
echo "test-windows: passed"

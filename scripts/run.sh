#!/usr/bin/env bash
# Installs what is needed, builds, and starts the utility. The built-in meter simulator (paced
# like a meter) is started and registered as COM1 until the utility closes only when asked for
# (KT580_SIM=1), when no serial port is there that COM1 could mean, or when the first serial
# port is there but no meter answers on it at the factory setting (see meter-choice.sh); a USB
# adapter, or KT580_SIM=0, starts none. While the utility talks to the simulator its title
# says "Simulator". Without a
# display, the real window runs on a virtual display through kt580-shots, which connects, saves
# a screenshot of each page with live values and prints the paths.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# Only what this script runs: the tests and benchmarks are built by scripts/test.sh.
KT_TARGETS="kt580-utility kt580-sim kt580-query kt580-shots" bash scripts/build.sh build

ports="${XDG_CONFIG_HOME:-$HOME/.config}/Veltrana/Marbrook/ports"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

. scripts/meter-choice.sh
choice=$(kt_meter_choice "$ports")
if [ "$choice" = uart ]; then
    # A meter as it leaves the factory: address 1, 19200 bps, None1. Its identity block answers.
    if build/tools/kt580-query/kt580-query --port COM1 --address 1 --timeout 500 \
        01,03,F0,00,00,09 >/dev/null 2>&1; then
        choice=port
    else
        echo "No meter answered on COM1 (/dev/ttyS0) at address 1, 19200 bps, None1."
        echo "Starting the simulator as COM1 instead (KT580_SIM=0 uses the port as it is)."
        choice=sim
    fi
fi
case "$choice" in
mapped)
    echo "Using the meter mapped as COM1 ($(readlink "$ports/COM1"))."
    ;;
port)
    echo "A serial port is there (a meter on COM1, a USB adapter, or KT580_SIM=0): no simulator."
    echo "Choose the meter's port in Connection Settings; KT580_SIM=1 starts the simulator."
    ;;
sim)
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    build/tools/kt580-sim/kt580-sim --com 1 --pace >"$fifo" &
    sim_pid=$!
    exec 3<"$fifo"
    rm -f "$fifo"
    read -r -t 10 pty <&3 || { echo "The simulator did not start." >&2; exit 1; }
    echo "The meter simulator runs on $pty as COM1."
    # Its exit summary is not needed here.
    cat <&3 >/dev/null &
    ;;
esac

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting the utility: choose OK in Connection Settings, then Start > Connect."
    build/src/shell/kt580-utility
else
    shots="$PWD/build/screenshots"
    echo "No display: running the utility on a virtual display; screenshots go to $shots."
    xvfb-run -a -s "-screen 0 1280x800x24" \
        build/tools/kt580-shots/kt580-shots "$shots"
fi

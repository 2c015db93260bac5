#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job: a few polling rounds
# over the meter on COM1 (identity, measurement, energy, relays, inputs).
# When no meter is mapped as COM1 in the per-user port map, the built-in meter
# simulator is started and registered as COM1 for the duration of the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build

ports="${XDG_CONFIG_HOME:-$HOME/.config}/Veltrana/Marbrook/ports"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if [ -e "$ports/COM1" ]; then
    echo "Polling the meter mapped as COM1 ($(readlink "$ports/COM1"))."
else
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    build/tools/kt580-sim/kt580-sim --com 1 --pace >"$fifo" &
    sim_pid=$!
    exec 3<"$fifo"
    rm -f "$fifo"
    read -r -t 10 pty <&3 || { echo "The simulator did not start." >&2; exit 1; }
    echo "No meter mapped as COM1: polling the built-in meter simulator on $pty as COM1."
    # The simulator's exit summary goes to the terminal once it is stopped.
    cat <&3 &
fi

build/tools/kt580-query/kt580-query --port COM1 --address 1 --count 3 --interval 500 \
    00,03,F0,00,00,09 \
    00,03,14,00,00,15 \
    00,03,11,80,00,0C \
    00,01,00,00,00,02 \
    00,02,00,00,00,06

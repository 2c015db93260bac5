#!/usr/bin/env bash
# Regenerates the README's screenshots in docs/screenshots: the utility's real window on a
# virtual display, connected to the meter simulator (in a private configuration folder, so
# the user's own settings and port map are left alone), each page filled with live values,
# plus the connection dialog, the About box and the Communication window. Run after a build (scripts/build.sh build).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$PWD/docs/screenshots"
mkdir -p "$out"

config=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$config"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$config"
export XDG_DATA_HOME="$config/data"

fifo="$config/sim.out"
mkfifo "$fifo"
# Starts the simulator as COM1 with the given options and waits until its terminal is there.
start_sim() {
    build/tools/kt580-sim/kt580-sim --com 1 --pace "$@" >"$fifo" &
    sim_pid=$!
    exec 3<"$fifo"
    read -r -t 10 pty <&3 || { echo "The simulator did not start." >&2; exit 1; }
    cat <&3 >/dev/null &
}
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}
# Pin the locale and the scale so the pictures do not depend on who makes them.
shots() {
    LC_ALL=C.UTF-8 QT_SCALE_FACTOR=1 xvfb-run -a -s "-screen 0 1024x768x24" \
        build/tools/kt580-shots/kt580-shots "$out" "$@"
}

start_sim --serial KT580-0042-7731
# The Trend page is taken after half a minute of polling with a recording running.
shots --windows --trend 30
# The three pages with a dark palette, and everything at twice the scale.
shots --dark --prefix dark- --trend 20
LC_ALL=C.UTF-8 QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 2048x1536x24" \
    build/tools/kt580-shots/kt580-shots "$out" --prefix scale2- --trend 20
# The Communication window on a healthy line, then on one that spoils every answer.
shots --communication communication-healthy.png
stop_sim
start_sim --fault crc=1
shots --communication communication-garbled.png
stop_sim
rm -f "$out/action-images.png"
ls "$out"

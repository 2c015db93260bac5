#!/usr/bin/env bash
# What run.sh makes COM1, on a staged port map, /dev and /sys: the simulator only when asked
# for or when no serial port is there that COM1 could mean; the first UART is asked first.
set -u
. "$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0

# check NAME EXPECTED SIM [ENTRY...]: ENTRY is "map" (COM1 mapped to a device), "dangling"
# (a COM1 link whose device is gone), "ttyS0=TYPE" (the first UART and its kernel type;
# TYPE "none" for no type file), "ttyUSB0" or "ttyACM0".
check() {
    local name=$1 expected=$2 sim=$3 entry got
    shift 3
    rm -rf "$stage"/*
    mkdir -p "$stage/ports" "$stage/dev" "$stage/sys/class/tty/ttyS0"
    for entry in "$@"; do
        case $entry in
        map) touch "$stage/dev/meter" && ln -s "$stage/dev/meter" "$stage/ports/COM1" ;;
        dangling) ln -s "$stage/dev/gone" "$stage/ports/COM1" ;;
        ttyS0=none) touch "$stage/dev/ttyS0" && rm -rf "$stage/sys/class/tty/ttyS0" ;;
        ttyS0=*) touch "$stage/dev/ttyS0" && echo "${entry#ttyS0=}" >"$stage/sys/class/tty/ttyS0/type" ;;
        *) touch "$stage/dev/$entry" ;;
        esac
    done
    got=$(KT580_SIM=$sim kt_meter_choice "$stage/ports" "$stage/dev" "$stage/sys")
    if [ "$got" != "$expected" ]; then
        echo "FAIL: $name: $got, expected $expected"
        failures=$((failures + 1))
    else
        echo "PASS: $name"
    fi
}

check "no serial port at all" sim "" 
check "first UART a 16550A" uart "" ttyS0=4
check "first UART without a chip behind it" sim "" ttyS0=0
check "first UART of unknown type" uart "" ttyS0=none
check "a USB adapter" port "" ttyS0=0 ttyUSB0
check "a CDC adapter" port "" ttyACM0
check "COM1 mapped" mapped "" ttyS0=4 map
check "COM1 mapped, no port" mapped "" map
check "a dangling COM1 link, no port" sim "" dangling
check "a dangling COM1 link, a USB adapter" port "" dangling ttyUSB0
check "asked for, with a real port" sim 1 ttyS0=4 ttyUSB0
check "asked for, COM1 mapped" sim 1 map
check "refused (0), no port" port 0
check "refused (0), a first UART" port 0 ttyS0=4
exit $((failures > 0))

# Sourced by scripts/run.sh: what COM1 is when the utility starts. kt_meter_choice prints
#   sim     start the meter simulator as COM1: asked for (KT580_SIM=1), or no serial port is
#           there that COM1 could mean;
#   mapped  the per-user port map names a device for COM1;
#   uart    the first UART, which COM1 means without a map entry, is there: run.sh asks it
#           for a meter at the factory setting and starts the simulator only when none answers;
#   port    a USB adapter is there, or the simulator is refused (KT580_SIM=0): no simulator.
# Arguments: the port map folder, and the roots of /dev and /sys (a test stages its own).
# A first UART counts as real unless the kernel says no UART answers there (type 0); where
# the kernel does not say, it counts as real: a meter must never be shadowed by the simulator.
kt_meter_choice() {
    local ports=$1 dev=${2:-/dev} sys=${3:-/sys} device type
    case "${KT580_SIM:-}" in
    1)
        echo sim
        return
        ;;
    0)
        echo port
        return
        ;;
    esac
    if [ -e "$ports/COM1" ]; then
        echo mapped
        return
    fi
    for device in "$dev"/ttyUSB* "$dev"/ttyACM*; do
        if [ -e "$device" ]; then
            echo port
            return
        fi
    done
    if [ -e "$dev/ttyS0" ]; then
        type=$(cat "$sys/class/tty/ttyS0/type" 2>/dev/null || echo unknown)
        if [ "$type" != 0 ]; then
            echo uart
            return
        fi
    fi
    echo sim
}

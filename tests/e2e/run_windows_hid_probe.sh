#!/bin/bash
# The Windows HID layer under Wine against the emulated unit: runs the probe in
# the emulated world with a Wine prefix of its own (its server is stopped and
# started there), then asks the emulator whether the flash holds the image.
#     run_windows_hid_probe.sh EMULATED_UNIT PROBE_EXE WORK_DIR
# Exit 77 (skipped) when the Linux build's emulated_unit is not there.
emulator=$1
probe=$2
work=$3
if [ ! -x "$emulator" ]; then
    echo "no emulated_unit at $emulator (built by the Linux preset): skipped"
    exit 77
fi
source "$(dirname "$0")/../../scripts/lib.sh"
set +e
mkdir -p "$work"
setup_wine "$work/wineprefix"
export WINEDEBUG=-all
"$emulator" --unit firmware=0x0302 --control "$work/control" --log "$work/exchanges.log" -- \
    "$ROOT/tests/e2e/wine_in_world.sh" bash -c '
        wine "$1" || exit 1
        echo "flash-matches $2" > "$EMULATED_UNIT_CONTROL/in"
        read -r reply < "$EMULATED_UNIT_CONTROL/out"
        echo "flash: $reply"
        [ "$reply" = "ok match" ]' probe "$probe" "$ROOT/res/firmware_image.bin"

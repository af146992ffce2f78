#!/bin/sh
# Runs COMMAND inside the emulated unit's world (as emulated_unit's child) for
# programs under Wine: the prefix's wineserver is stopped first, so that the
# server, the device host with Wine's HID bus and every Wine process start here
# and see the emulated sysfs and hidraw node, and stopped again afterwards, so
# that none of them outlives the world.
#     emulated_unit [OPTIONS] -- tests/e2e/wine_in_world.sh COMMAND [ARGS...]
# WINEPREFIX must name a prefix whose Wine HID bus reads hidraw nodes
# (scripts/lib.sh setup_wine sets it up so).
trap 'wineserver -k 2>/dev/null; exit 143' TERM INT
wineserver -k 2>/dev/null
"$@"
status=$?
wineserver -k 2>/dev/null
exit $status

#!/usr/bin/env bash
# scripts/run on a machine that has what it needs: it installs nothing and starts
# the program; and its udev rule step, against a stand-in udev (a control
# socket, rule folders and udevadm that only records): the rule is put in place,
# the rules reloaded and hidraw devices triggered once, and nothing happens
# again, nor where the package's rule is there, nor without udev.
#     run_script_test.sh SOURCE BUILD     (BUILD: where scripts/run may build)
set -euo pipefail
SOURCE="$1"
BUILD="$2"
if [ -z "${DISPLAY:-}" ] || ! command -v xdotool >/dev/null 2>&1; then
    echo "No X display or no xdotool: skipped."
    exit 77
fi
WORK="$(mktemp -d)"
PROGRAM_GROUP=""
cleanup() {
    if [ -n "$PROGRAM_GROUP" ]; then kill -- "-$PROGRAM_GROUP" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

# Stand-ins that record every call: nothing here may install anything, and
# sudo only passes a command on (for a developer who is not root).
mkdir -p "$WORK/bin" "$WORK/etc" "$WORK/lib"
for tool in apt-get apt dpkg-reconfigure; do
    printf '#!/bin/sh\necho "%s $*" >> "%s/calls"\nexit 1\n' "$tool" "$WORK" > "$WORK/bin/$tool"
done
printf '#!/bin/sh\necho "udevadm $*" >> "%s/calls"\n' "$WORK" > "$WORK/bin/udevadm"
printf '#!/bin/sh\n[ "$1" = -v ] && exit 0\nexec "$@"\n' > "$WORK/bin/sudo"
chmod +x "$WORK"/bin/*
export PATH="$WORK/bin:$PATH"

echo "=== everything in place: scripts/run --demo installs nothing and starts the program"
# A process group of its own (the program is scripts/run's child), ended below.
VESPRA_RUN_BUILD="$BUILD" setsid bash -c 'cd "$1" && exec scripts/run --demo' run "$SOURCE" \
    > "$WORK/run.log" 2>&1 &
PROGRAM_GROUP=$!
if ! timeout 300 xdotool search --sync --name "Simulated programming unit" > /dev/null; then
    fail "no window of the program"
fi
kill -- "-$PROGRAM_GROUP" 2>/dev/null || true
wait "$PROGRAM_GROUP" 2>/dev/null || true
PROGRAM_GROUP=""
if [ -s "$WORK/calls" ]; then fail "called: $(cat "$WORK/calls")"; fi
if grep -qi "missing\|install" "$WORK/run.log"; then fail "said: $(grep -i "missing\|install" "$WORK/run.log")"; fi
cat "$WORK/run.log"

rule_step() {
    (source "$SOURCE/scripts/lib.sh" && install_udev_rule) > "$WORK/rule.log" 2>&1
}
export VESPRA_UDEV_CONTROL="$WORK/control" VESPRA_UDEV_ETC_RULES="$WORK/etc" VESPRA_UDEV_LIB_RULES="$WORK/lib"
: > "$WORK/calls"

echo "=== no udev (a container, a chroot): nothing done, nothing said"
rule_step
if [ -s "$WORK/rule.log" ] || [ -s "$WORK/calls" ] || [ -e "$WORK/etc/70-vespra-updater.rules" ]; then
    fail "without udev: $(cat "$WORK/rule.log" "$WORK/calls")"
fi

python3 -c "import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])" "$WORK/control"
echo "=== udev runs: the rule in place, the rules reloaded, hidraw triggered"
rule_step
cat "$WORK/rule.log"
cmp -s "$SOURCE/app/linux/70-vespra-updater.rules" "$WORK/etc/70-vespra-updater.rules" || fail "rule not in place"
expected="udevadm control --reload-rules
udevadm trigger --subsystem-match=hidraw --action=change"
[ "$(cat "$WORK/calls")" = "$expected" ] || fail "udevadm calls: $(cat "$WORK/calls")"
grep -q "$WORK/etc/70-vespra-updater.rules" "$WORK/rule.log" || fail "did not say where the rule went"

echo "=== again: nothing changes"
: > "$WORK/calls"
rule_step
if [ -s "$WORK/rule.log" ] || [ -s "$WORK/calls" ]; then fail "second run: $(cat "$WORK/rule.log" "$WORK/calls")"; fi

echo "=== the package's rule is there: no copy in /etc"
rm "$WORK/etc/70-vespra-updater.rules"
cp "$SOURCE/app/linux/70-vespra-updater.rules" "$WORK/lib/"
rule_step
if [ -s "$WORK/calls" ] || [ -e "$WORK/etc/70-vespra-updater.rules" ]; then fail "copied beside the package's rule"; fi

if [ "$failed" = 0 ]; then echo "scripts/run: all checks passed"; fi
exit "$failed"

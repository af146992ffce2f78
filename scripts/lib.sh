# Shared by scripts/run and scripts/test: installs what is missing on a Debian 12
# machine and builds. Sourced, not run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

# What the Linux program needs to be built and started, and nothing else:
# scripts/run installs these alone, without recommended packages. Python runs
# the generator of the resource tables; qt6-base-dev brings Qt's platform
# plugins.
RUN_PACKAGES=(
    g++ cmake ninja-build pkg-config python3
    qt6-base-dev libudev-dev
)
# scripts/run without a display: a virtual X server.
RUN_DISPLAY_PACKAGES=(xvfb)

# Everything scripts/test needs: the tests, the Windows build, the package checks.
BUILD_PACKAGES=(
    build-essential cmake ninja-build python3 pkg-config git clang-format
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    qt6-base-dev qt6-translations-l10n libudev-dev
    g++-mingw-w64-x86-64-posix wine wine64
    umockdev libumockdev-dev
    xvfb x11-utils xdotool imagemagick xauth python3-gi gir1.2-atspi-2.0 at-spi2-core dbus
    python3-dbusmock
    weston qt6-wayland
    locales fonts-dejavu-core
    dpkg-dev lintian desktop-file-utils appstream
    strace
)

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# The packages of the list given that are not installed, one a line.
missing_packages() {
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

# Before commands that need root: for root nothing to do; for anyone else it
# says what sudo will run and lets sudo ask for the password once. Without
# sudo, or without the right to use it, it stops with the commands for the user
# to run as root.
may_become_root() {
    local why="$1"
    shift
    if [ "$(id -u)" = 0 ]; then
        return
    fi
    echo "$why needs root rights; sudo will run:" >&2
    printf '    %s\n' "$@" >&2
    if ! command -v sudo >/dev/null 2>&1 || ! sudo -v; then
        echo >&2
        echo "Cannot become root through sudo. As root (e.g. after 'su -'), run:" >&2
        printf '    %s\n' "$@" >&2
        echo "then start scripts/$(basename "$0") again." >&2
        exit 1
    fi
}

# What scripts/run needs: the packages above, without recommended packages, and
# a virtual X server when there is no display.
install_run_packages() {
    local wanted=("${RUN_PACKAGES[@]}")
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        wanted+=("${RUN_DISPLAY_PACKAGES[@]}")
    fi
    local missing
    mapfile -t missing < <(missing_packages "${wanted[@]}")
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    may_become_root "Installing the missing Debian packages (${missing[*]})" \
        "apt-get update" "apt-get install --no-install-recommends ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Installs those of the packages named after the apt-get options (up to "--")
# that are missing, saying which.
install_packages() {
    local options=()
    while [ "$1" != "--" ]; do
        options+=("$1")
        shift
    done
    shift
    local missing
    mapfile -t missing < <(missing_packages "$@")
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${options[@]}" "${missing[@]}"
    fi
}

install_missing_packages() {
    install_packages -- "${BUILD_PACKAGES[@]}"
    # German and English locales, so that LANG=de_DE.UTF-8 takes effect (Wine, Qt).
    if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$' || ! locale -a 2>/dev/null | grep -qi '^en_US\.utf8$'; then
        as_root sed -i -E 's/^# *(de_DE\.UTF-8 UTF-8)/\1/; s/^# *(en_US\.UTF-8 UTF-8)/\1/' /etc/locale.gen
        as_root locale-gen >/dev/null
    fi
}

# The udev rule that lets the user at the seat open the unit's hidraw nodes, in
# place where udev runs: in /etc/udev/rules.d unless the installed package has
# it in /usr/lib/udev/rules.d; then the rules are reloaded and hidraw devices
# triggered again, so that a unit plugged in already is reached too. Nothing to
# do where it is in place; skipped without a word where udev does not run (a
# container, a chroot).
# The tests point the three places elsewhere.
UDEV_RULE=70-vespra-updater.rules
UDEV_CONTROL="${VESPRA_UDEV_CONTROL:-/run/udev/control}"
UDEV_ETC_RULES="${VESPRA_UDEV_ETC_RULES:-/etc/udev/rules.d}"
UDEV_LIB_RULES="${VESPRA_UDEV_LIB_RULES:-/usr/lib/udev/rules.d}"
install_udev_rule() {
    if [ ! -S "$UDEV_CONTROL" ] || ! command -v udevadm >/dev/null 2>&1; then
        return
    fi
    local target="$UDEV_ETC_RULES/$UDEV_RULE"
    if [ -f "$UDEV_LIB_RULES/$UDEV_RULE" ] || cmp -s "$ROOT/app/linux/$UDEV_RULE" "$target"; then
        return
    fi
    echo "Putting the udev rule in place ($target), so that you may open the programming unit."
    may_become_root "This" "install -D -m 0644 $ROOT/app/linux/$UDEV_RULE $target" \
        "udevadm control --reload-rules" "udevadm trigger --subsystem-match=hidraw --action=change"
    as_root install -D -m 0644 "$ROOT/app/linux/$UDEV_RULE" "$target"
    as_root udevadm control --reload-rules
    as_root udevadm trigger --subsystem-match=hidraw --action=change
    echo "Rules reloaded and hidraw devices triggered: a unit plugged in now or later is yours to open."
}

# A private Wine prefix inside the build tree (or the folder given), created once.
setup_wine() {
    export WINEPREFIX="${1:-$ROOT/build/wineprefix}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1 || true
        wineserver -w || true
    fi
    # While libSDL2 is installed Wine's HID bus takes devices only through SDL;
    # without it, hidraw nodes reach hid.dll.
    if ! grep -q '^"Enable SDL"=dword:00000000' "$WINEPREFIX/system.reg"; then
        wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' \
            /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
        wineserver -w || true
    fi
}

# Starts Xvfb on a free display unless one is set; sets DISPLAY.
XVFB_PID=""
# Without xdpyinfo (scripts/run installs only Xvfb) the server's socket tells.
display_answers() {
    if command -v xdpyinfo >/dev/null 2>&1; then
        xdpyinfo >/dev/null 2>&1
    else
        [ -S "/tmp/.X11-unix/X${DISPLAY#:}" ]
    fi
}

start_xvfb() {
    if [ -n "${DISPLAY:-}" ] && display_answers; then
        return
    fi
    # A number whose files are free can still be taken where the files are not
    # seen (a container or chroot sharing the host's abstract sockets): then the
    # server ends at once, and the next number is tried.
    local n=99
    for _ in $(seq 20); do
        while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do
            kill -0 "$XVFB_PID" 2>/dev/null || break
            display_answers && return
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
        n=$((n + 1))
    done
    echo "Xvfb did not start" >&2
    return 1
}

stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
    if command -v wineserver >/dev/null 2>&1 && [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
}

# What scripts/release and its checks need beyond the build: Debian's packaging
# tools (hardening-check is in devscripts), the code signer (its -time option
# keeps signatures reproducible) and a PE reader for the checks.
RELEASE_PACKAGES=(debhelper devscripts osslsigncode openssl python3-pefile)

install_release_packages() {
    install_packages --no-install-recommends -- "${RELEASE_PACKAGES[@]}"
}

# Shared by scripts/run and scripts/test: installs what is missing on a Debian 12
# machine and builds. Sourced, not run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

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
)

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing_packages() {
    local missing=()
    for p in "${BUILD_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
    # German and English locales, so that LANG=de_DE.UTF-8 takes effect (Wine, Qt).
    if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$' || ! locale -a 2>/dev/null | grep -qi '^en_US\.utf8$'; then
        as_root sed -i -E 's/^# *(de_DE\.UTF-8 UTF-8)/\1/; s/^# *(en_US\.UTF-8 UTF-8)/\1/' /etc/locale.gen
        as_root locale-gen >/dev/null
    fi
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
start_xvfb() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return
    fi
    local n=99
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
    if command -v wineserver >/dev/null 2>&1 && [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
}

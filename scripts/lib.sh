# Shared by scripts/run and scripts/test: Debian packages, configure, build, a virtual display.
set -euo pipefail

LUMIRA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$LUMIRA_ROOT"

# What building and running the program needs on a fresh Debian 12 or 13 (scripts/run): the
# toolchain, Qt with its browser engine, the X libraries, the Chinese fonts, the help viewer,
# and a virtual display with a window manager for a start without a screen.
LUMIRA_RUN_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools libgl-dev
    libxcb1-dev libxcb-keysyms1-dev libxcb-xinput-dev libxcb-xtest0-dev
    libxcb-screensaver0-dev libxcb-dpms0-dev libxcb-shm0-dev
    libmicrohttpd-dev # the status server
    fonts-noto-cjk xdg-utils
    xvfb xauth openbox x11-utils xdotool
)
# What the tests and the package need besides; the Debian 13 round's root has these two lists.
LUMIRA_TEST_PACKAGES=(
    clang-format libgtest-dev libgmock-dev curl
    chromium firefox-esr # real browsers for the status page's test
    locales-all # a decimal-comma locale, to test that the number rule ignores it
    dpkg-dev file lintian desktop-file-utils appstream # the package (CPack runs file) and its checks
)
# Everything scripts/test needs: the fuzz targets and the desktops as well. The names hold on
# Debian 12 and 13 alike (libclang-rt-dev follows the release's default clang).
LUMIRA_PACKAGES=(
    "${LUMIRA_RUN_PACKAGES[@]}" "${LUMIRA_TEST_PACKAGES[@]}"
    clang libclang-rt-dev # libFuzzer, for the parsers' fuzz targets
    xfwm4 mutter kwin-x11 xwayland dbus-daemon # the desktops a sign PC runs, each tested
)

# Installs what is missing of the packages given, or of LUMIRA_PACKAGES when none are.
ensure_packages() {
    local missing=() wanted=("$@")
    [ ${#wanted[@]} -gt 0 ] || wanted=("${LUMIRA_PACKAGES[@]}")
    for package in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local install=(apt-get install -y -q --no-install-recommends "${missing[@]}")
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -q && DEBIAN_FRONTEND=noninteractive "${install[@]}"
    elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        sudo apt-get update -q && sudo DEBIAN_FRONTEND=noninteractive "${install[@]}"
    else
        echo "Missing packages and no way to install them. Run as root:" >&2
        echo "  apt-get update && ${install[*]}" >&2
        exit 1
    fi
}

# Configures and builds one preset (release or debug); targets may follow, else all.
build_preset() {
    local preset="$1"
    shift
    cmake --preset "$preset" -S "$LUMIRA_ROOT" >/dev/null
    cmake --build --preset "$preset" ${1:+--target "$@"}
}

# Starts Xvfb (and openbox unless told otherwise) on a free display; sets DISPLAY and
# LUMIRA_XVFB_PIDS. Extra Xvfb arguments may follow, e.g. -dpi 144.
start_virtual_display() {
    local number=90
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -noreset "$@" >/dev/null 2>&1 &
    LUMIRA_XVFB_PIDS="$!"
    export DISPLAY=":$number"
    for _ in $(seq 100); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.05
    done
    openbox >/dev/null 2>&1 &
    LUMIRA_XVFB_PIDS="$LUMIRA_XVFB_PIDS $!"
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
}

stop_virtual_display() {
    # shellcheck disable=SC2086
    [ -n "${LUMIRA_XVFB_PIDS:-}" ] && kill $LUMIRA_XVFB_PIDS 2>/dev/null || true
}

# Sourced by ./run, ./test and .ci/run: makes sure the Debian packages the project needs are there.
# As root it installs what is missing; otherwise it prints the one apt-get line needed and fails.
PRAXON_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
    stm32flash xvfb xauth xdotool fonts-wqy-microhei clang-14 libclang-rt-14-dev python3 time
    qt6-l10n-tools qt6-translations-l10n libunicorn-dev dpkg-dev file man-db appstream
    desktop-file-utils gcc-arm-none-eabi libnewlib-arm-none-eabi zlib1g-dev liblzma-dev)

praxon_ensure_packages() {
    local missing=() pkg
    for pkg in "${PRAXON_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >&2 && apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
}

# Configures and builds one build tree: praxon_build DIR [cmake options...]
praxon_build() {
    local dir=$1
    shift
    local launcher=()
    # ccache, where installed, lets several work trees of the project share compiled objects.
    command -v ccache >/dev/null &&
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

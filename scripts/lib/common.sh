# Shared by the project's scripts: package installation and the build trees.
# Sourced, not run.

# Every Debian package the build, the tests and the benchmarks need.
TESSERA_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libglfw3-dev libgl-dev libx11-dev libxtst-dev
    xvfb xauth x11-utils xdotool imagemagick
    libgl1-mesa-dri libglx-mesa0
    libfreetype-dev libstb-dev libimgui-dev fonts-dejavu-core fonts-liberation
    libmpg123-dev libsdl2-dev sox lame
    clang libclang-rt-14-dev
)

# Installs whatever of TESSERA_PACKAGES is missing; runs `apt-get update` once,
# and only when something has to be installed.
ensure_packages() {
    local missing=()
    local p
    for p in "${TESSERA_PACKAGES[@]}"; do
        if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != "installed" ]; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_tree DIR BUILD_TYPE [extra cmake args...]
configure_tree() {
    local dir=$1 type=$2
    shift 2
    cmake -S "$TESSERA_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
}

build_tree() {
    cmake --build "$1" --parallel "$(nproc)"
}

# Sourced by the other scripts: the Debian packages each of them needs, and
# the only apt calls of the project. Needs root (or sudo) only when
# something must be installed or removed.

# What every build needs.
BUILD_PACKAGES=(g++ gcc cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libserialport-dev qt6-base-dev
    libcli11-dev nlohmann-json3-dev)
# One list per script, each complete on its own.
SANITIZE_PACKAGES=("${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev)
FUZZ_PACKAGES=("${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev)
VALGRIND_PACKAGES=("${BUILD_PACKAGES[@]}" valgrind)
WINDOWS_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine64 wine python3 xvfb xauth)
PACKAGE_TEST_PACKAGES=("${BUILD_PACKAGES[@]}" dpkg-dev)
RUN_PACKAGES=("${BUILD_PACKAGES[@]}")
# run.sh without a display.
XVFB_PACKAGES=(xvfb xauth)
SCREENSHOTS_PACKAGES=("${BUILD_PACKAGES[@]}" xvfb xauth fonts-dejavu-core)
BENCH_PACKAGES=("${BUILD_PACKAGES[@]}" hyperfine time python3)
# Every list above: scripts/test.sh installs these before it starts steps
# side by side, so that no two apt or dpkg runs ever meet. A list missing
# here fails the test Scripts.PackageLists.
mapfile -t ALL_PACKAGES < <(printf '%s\n' "${BUILD_PACKAGES[@]}" "${SANITIZE_PACKAGES[@]}" \
    "${FUZZ_PACKAGES[@]}" "${VALGRIND_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" \
    "${PACKAGE_TEST_PACKAGES[@]}" "${RUN_PACKAGES[@]}" "${XVFB_PACKAGES[@]}" \
    "${SCREENSHOTS_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" | sort -u)

# A fresh machine may still be busy with its own apt run (unattended
# upgrades): wait for the lock rather than fail.
APT_GET=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
[ "$(id -u)" -eq 0 ] || APT_GET=(sudo "${APT_GET[@]}")

# Installs the packages named that are not installed yet. Under
# scripts/test.sh (KORVAL_PACKAGES_READY set) everything is installed
# already, and a missing package is an error rather than an apt run beside
# the other steps.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ -n "${KORVAL_PACKAGES_READY:-}" ]; then
        echo "Not installed: ${missing[*]}; add them to their script's list in scripts/deps.sh" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    "${APT_GET[@]}" update -qq
    "${APT_GET[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

# Installs a package file with apt, which also brings its dependencies.
install_package_file() {
    "${APT_GET[@]}" install -y -qq "$1"
}

remove_packages() {
    "${APT_GET[@]}" remove -y -qq "$@" >/dev/null
}

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$(nproc)"
}

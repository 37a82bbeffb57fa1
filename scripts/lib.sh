# Shared steps of the scripts in this folder. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

log() { printf '\n== %s\n' "$*"; }

# System packages the tests need: GoogleTest for the C++ tests, clang for the
# fuzzers, valgrind for the memcheck run. Installed with apt when missing (CI runs as root on a new machine).
ensure_system_packages() {
    local missing=()
    [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
    command -v clang++ >/dev/null 2>&1 || missing+=(clang)
    compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null ||
        missing+=(libclang-rt-14-dev)
    command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
    command -v valgrind >/dev/null 2>&1 || missing+=(valgrind)
    if [ ${#missing[@]} -gt 0 ]; then
        log "installing ${missing[*]}"
        if [ "$(id -u)" != 0 ]; then
            echo "need root to apt-get install ${missing[*]}" >&2
            return 1
        fi
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# python_for VERSION: the interpreter of that pyenv version (3.12 or 3.13).
python_for() {
    PYENV_VERSION="$1" pyenv which python
}

# make_venv DIR VERSION: a virtual environment with the build and test tools.
make_venv() {
    local dir=$1 version=$2
    if [ ! -x "$dir/bin/python" ]; then
        log "creating $dir (CPython $version)"
        "$(python_for "$version")" -m venv "$dir"
        "$dir/bin/python" -m pip install -q --upgrade pip
    fi
    "$dir/bin/python" -m pip install -q "scikit-build-core>=0.10" "cmake>=3.20" ninja \
        pytest "hypothesis>=6.100" "numpy>=1.26"
}

# install_module DIR [extra pip args...]: builds and installs tavro_api into the venv.
install_module() {
    local dir=$1
    shift
    log "building and installing tavro_api into $dir"
    "$dir/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps "$@" .
}

# build_panic_module VENV BUILD_DIR [cmake args...]: the test-only extension
# that makes the native code panic on purpose. Never installed.
build_panic_module() {
    local venv=$1 build=$2
    shift 2
    cmake -S . -B "$build" -G Ninja -DTAVRO_BUILD_PANIC_MODULE=ON \
        -DPython_EXECUTABLE="$ROOT/$venv/bin/python" "$@" >/dev/null
    ninja -C "$build" _tavro_panic >/dev/null
}

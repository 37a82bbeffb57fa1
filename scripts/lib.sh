# Shared steps of the scripts in this folder. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

log() { printf '\n== %s\n' "$*"; }

# System packages the tests need: GoogleTest for the C++ tests, clang and its
# runtime libraries (libFuzzer, the sanitizers) for the fuzzers, CMake and
# ninja (the fuzzers' build; pip brings its own for the module), and
# valgrind for the memcheck run. Installed with apt when missing (CI runs as
# root on a new machine). libclang-rt-dev is Debian's name for the runtime of
# its default clang, whatever its version.
ensure_system_packages() {
    local missing=()
    [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
    command -v clang++ >/dev/null 2>&1 || missing+=(clang)
    compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null ||
        missing+=(libclang-rt-dev)
    command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
    command -v cmake >/dev/null 2>&1 || missing+=(cmake)
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
    local python
    if ! python=$(PYENV_VERSION="$1" pyenv which python 2>/dev/null); then
        echo "CPython $1 is missing: install it with \`pyenv install $1\`" >&2
        return 1
    fi
    echo "$python"
}

# make_venv DIR VERSION: a virtual environment with the build and test tools.
make_venv() {
    local dir=$1 version=$2 python
    if [ ! -x "$dir/bin/python" ]; then
        python=$(python_for "$version")
        log "creating $dir (CPython $version)"
        "$python" -m venv "$dir"
        "$dir/bin/python" -m pip install -q --upgrade pip
    fi
    "$dir/bin/python" -m pip install -q "scikit-build-core>=0.10" "cmake>=3.20" ninja \
        pytest "hypothesis>=6.100" "numpy>=1.26"
}

# install_module VENV [pip args...]: builds tavro_api as `pip install .` does
# and installs it into the venv. Extra arguments go to pip, for example
# -Cbuild-dir=DIR to keep the build tree in DIR (rebuilt incrementally) and
# -Ccmake.define.NAME=VALUE to set CMake options for it.
install_module() {
    local dir=$1
    shift
    log "building and installing tavro_api into $dir"
    CMAKE_BUILD_PARALLEL_LEVEL=${JOBS:-2} \
        "$dir/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps "$@" .
}

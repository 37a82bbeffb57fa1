#!/usr/bin/env bash
# Runs every test: the C++ core tests, the Python tests against the installed
# module, and the same again under AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/test.sh              everything
#   scripts/test.sh --fast       C++ tests, Python tests on 3.12 and the type checks
#   scripts/test.sh --sanitize   only the sanitizer mode
#   scripts/test.sh --sdist      only the test of the source distribution
#
#   scripts/test.sh --fuzz       only the fuzzers (60 s per target)
#
# "Everything" is: the fast set, the Python tests on CPython 3.13, the test of
# the source distribution in a fresh environment, the sanitizer mode, a
# memcheck run under valgrind, and each fuzzer for a minute.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

MODE=${1:-all}
JOBS=${JOBS:-2}

run_cpp_tests() {
    local build=$1
    shift
    log "C++ core tests ($build)"
    cmake -S . -B "$build" -G Ninja -DTAVRO_BUILD_TESTS=ON "$@" >/dev/null
    ninja -j"$JOBS" -C "$build" core_tests >/dev/null
    "$build/core_tests" --gtest_brief=1
}

run_python_tests() {
    local venv=$1 panic_build=$2
    shift 2
    log "Python tests ($venv)"
    TAVRO_PANIC_MODULE_DIR="$ROOT/$panic_build" "$@" "$venv/bin/python" -m pytest -q tests/python
}

check_format() {
    log "format check"
    "$1/bin/python" -m pip install -q clang-format==19.1.7 ruff==0.17.6
    git ls-files -- 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'fuzz/*.cpp' 'bench/*.cpp' |
        xargs "$1/bin/clang-format" --dry-run --Werror
    git ls-files -- '*.py' '*.pyi' | xargs "$1/bin/ruff" format --check --quiet
    git ls-files -- '*.py' '*.pyi' | xargs "$1/bin/ruff" check --quiet
}

# The stubs match the module (stubtest), typed code using them passes
# `mypy --strict`, and each call marked "# E:" in misuse.py is rejected.
check_types() {
    local venv=$1
    log "type stubs ($venv)"
    "$venv/bin/python" -m pip install -q mypy
    (
        cd tests/typing
        "$ROOT/$venv/bin/python" -m mypy.stubtest tavro_api --allowlist "$ROOT/stubs/stubtest-allowlist.txt"
        "$ROOT/$venv/bin/python" -m mypy --strict usage.py
        local expected found
        expected=$(grep -c '# E:' misuse.py)
        found=$("$ROOT/$venv/bin/python" -m mypy misuse.py | grep -c ': error:' || true)
        if [ "$found" != "$expected" ]; then
            echo "misuse.py: expected $expected type errors, mypy found $found" >&2
            return 1
        fi
        echo "misuse.py: all $expected misuses rejected"
    )
}

python_version_mode() {
    local version=$1 venv=.venv-$1
    make_venv "$venv" "$version"
    install_module "$venv" -Cbuild-dir="build/py$version-{wheel_tag}"
    build_panic_module "$venv" "build/panic-$version"
    run_python_tests "$venv" "build/panic-$version"
}

# Builds the source distribution, installs it into a new environment the way a
# user would (build isolation, dependencies from the index) and runs the test
# suite that it carries against the installed module.
sdist_mode() {
    log "source distribution"
    rm -rf build/sdist
    mkdir -p build/sdist
    .venv/bin/python -m pip install -q build
    .venv/bin/python -m build --sdist -o build/sdist . >/dev/null
    local archive
    archive=$(ls build/sdist/tavro_api-*.tar.gz)
    tar -xzf "$archive" -C build/sdist
    "$(python_for 3.12)" -m venv build/sdist/venv
    build/sdist/venv/bin/python -m pip install -q --upgrade pip
    build/sdist/venv/bin/python -m pip install -q "$archive[test]" cmake ninja
    local src
    src=$(ls -d build/sdist/tavro_api-*/)
    (
        cd "$src"
        cmake -S . -B build/panic -G Ninja -DTAVRO_BUILD_PANIC_MODULE=ON \
            -DPython_EXECUTABLE="$ROOT/build/sdist/venv/bin/python" >/dev/null
        ninja -C build/panic _tavro_panic >/dev/null
        log "Python tests (installed from $(basename "$archive"))"
        TAVRO_PANIC_MODULE_DIR="$PWD/build/panic" "$ROOT/build/sdist/venv/bin/python" -m pytest -q tests/python
    )
}

normal_mode() {
    run_cpp_tests build/cpp
    make_venv .venv 3.12
    check_format .venv
    install_module .venv
    build_panic_module .venv build/panic
    run_python_tests .venv build/panic
    check_types .venv
}

sanitize_mode() {
    run_cpp_tests build/cpp-asan -DTAVRO_SANITIZE=ON
    make_venv .venv-asan 3.12
    install_module .venv-asan -Ccmake.define.TAVRO_SANITIZE=ON -Cbuild-dir=build/asan-{wheel_tag}
    build_panic_module .venv-asan build/panic-asan -DTAVRO_SANITIZE=ON
    local runtime
    runtime="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
    # The interpreter itself is not instrumented and keeps memory until exit,
    # so leak detection is off; every invalid access still aborts the run.
    run_python_tests .venv-asan build/panic-asan env LD_PRELOAD="$runtime" \
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        PYTHONMALLOC=malloc HYPOTHESIS_PROFILE=sanitize
}

ensure_system_packages
case "$MODE" in
    all)
        normal_mode
        python_version_mode 3.13
        sdist_mode
        sanitize_mode
        log "valgrind memcheck"
        bash scripts/valgrind_check.sh
        log "fuzzing"
        bash scripts/fuzz.sh 60
        ;;
    --fast) normal_mode ;;
    --sanitize) sanitize_mode ;;
    --sdist) sdist_mode ;;
    --fuzz) bash scripts/fuzz.sh 60 ;;
    *) echo "usage: $0 [--fast|--sanitize|--sdist|--fuzz]" >&2; exit 2 ;;
esac
log "all tests passed"

#!/usr/bin/env bash
# Runs every test: the C++ core tests, the Python tests against the installed
# module, and the same again under AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/test.sh              everything
#   scripts/test.sh --fast       C++ and Python tests only (no sanitizers)
#   scripts/test.sh --sanitize   only the sanitizer mode
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
    "$1/bin/python" -m pip install -q clang-format==19.1.7
    git ls-files -- 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'fuzz/*.cpp' 'bench/*.cpp' |
        xargs "$1/bin/clang-format" --dry-run --Werror
}

normal_mode() {
    run_cpp_tests build/cpp
    make_venv .venv 3.12
    check_format .venv
    install_module .venv
    build_panic_module .venv build/panic
    run_python_tests .venv build/panic
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
    all) normal_mode; sanitize_mode ;;
    --fast) normal_mode ;;
    --sanitize) sanitize_mode ;;
    *) echo "usage: $0 [--fast|--sanitize]" >&2; exit 2 ;;
esac
log "all tests passed"

#!/usr/bin/env bash
# Runs tests/valgrind/exercise_all.py (every method, on its success path and
# its error paths) under valgrind's memcheck against the tavro_api installed
# in .venv, with the interpreter on plain malloc so that every Python object
# is a block valgrind sees.
#
#   scripts/valgrind_check.sh                 the module installed in .venv
#   TAVRO_MODULE_DIR=build/ext scripts/valgrind_check.sh
#                                             a module built in that folder
#
# Fails on any invalid access or use of uninitialised memory, and on any
# block definitely lost, except the strings that CPython 3.12 itself never
# frees (tests/valgrind/python312.supp names them by the interpreter function
# that made them). Note that a leaked Python container stays linked into the
# garbage collector's lists and so is "still reachable" here: the reference
# and block counts of tests/python/test_leaks.py cover those.
#
# The full log is kept in build/valgrind/memcheck.log.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

VENV=${VENV:-.venv}
OUT=$ROOT/build/valgrind
mkdir -p "$OUT"

if ! command -v valgrind >/dev/null 2>&1; then
    if [ "$(id -u)" != 0 ]; then
        echo "valgrind is missing; need root to apt-get install it" >&2
        exit 1
    fi
    log "installing valgrind"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null
fi

if [ -n "${TAVRO_MODULE_DIR:-}" ]; then
    export PYTHONPATH="$TAVRO_MODULE_DIR${PYTHONPATH:+:$PYTHONPATH}"
elif ! "$VENV/bin/python" -c "import tavro_api" >/dev/null 2>&1; then
    make_venv "$VENV" 3.12
    install_module "$VENV"
fi

module=$("$VENV/bin/python" -c "import tavro_api; print(tavro_api.__file__)")
log "memcheck on $module"
status=0
PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=1 \
    --errors-for-leak-kinds=definite --leak-check=full --num-callers=40 \
    --suppressions="$ROOT/tests/valgrind/python312.supp" -s \
    --log-file="$OUT/memcheck.log" \
    "$VENV/bin/python" "$ROOT/tests/valgrind/exercise_all.py" || status=$?

grep -E 'ERROR SUMMARY|definitely lost:|indirectly lost:|possibly lost:|still reachable:|suppressed:' \
    "$OUT/memcheck.log" | sed 's/^==[0-9]*== *//' | awk '!seen[$0]++'
if [ "$status" != 0 ]; then
    echo "memcheck found problems (exit $status); see $OUT/memcheck.log" >&2
    exit "$status"
fi
log "memcheck clean"

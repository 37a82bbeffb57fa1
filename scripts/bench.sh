#!/usr/bin/env bash
# Sets up the environment (.venv, CPython 3.12), installs msgpack and tavro_api
# into it, and runs the benchmark against its peers (pure Python, pickle,
# msgpack, a plain copy). Prints a table of medians and writes the figures as
# JSON (bench/results.json unless --json PATH is given).
#
#   scripts/bench.sh            full sizes, a few minutes on 2 cores
#   scripts/bench.sh --quick    every count divided by ten, under a minute
#
# Other arguments go to bench/run.py (--runs N, --json PATH, --skip-memory).
# Figures taken while other work runs on the machine are noisy: check the load
# average that the run prints, and re-run when it is low.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

make_venv .venv 3.12
log "installing msgpack into .venv"
.venv/bin/python -m pip install -q msgpack
install_module .venv
log "running bench/run.py $*"
# The installed module is the one measured, never a build folder on PYTHONPATH.
env -u PYTHONPATH .venv/bin/python bench/run.py "$@"

#!/usr/bin/env bash
# Sets up the environment (.venv, CPython 3.12), installs tavro_api into it
# (built again only when its sources changed since the last install) and runs
# the example on its built-in sample data.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

make_venv .venv 3.12
module_is_current .venv || install_module .venv
log "running examples/example.py"
.venv/bin/python examples/example.py

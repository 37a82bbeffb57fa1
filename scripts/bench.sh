#!/usr/bin/env bash
# Sets up the environment (.venv, CPython 3.12), installs msgpack and tavro_api
# into it (tavro_api built again only when its sources changed since the last
# install), and runs the benchmark against its peers (pure Python, pickle,
# msgpack, a plain copy). Prints a table of medians, writes the figures as JSON
# and draws the chart of the ratios to the floors.
#
#   scripts/bench.sh            full sizes, a few minutes on 2 cores; redraws
#                               the tracked chart, bench/performance.svg
#   scripts/bench.sh --quick    every count divided by ten, about a minute; its
#                               chart goes to bench/results-quick.svg
#   scripts/bench.sh --help     this text
#
# Other arguments go to bench/run.py: --runs N (samples per figure, 5),
# --json PATH (bench/results.json), --chart PATH, --markdown PATH (the table
# as Markdown too), --skip-memory. Figures taken while other work runs on the
# machine are noisy: check the load average that the run prints, and re-run
# when it is low.
set -euo pipefail
case " $* " in
    *" --help "* | *" -h "*)
        sed -n '2,/^$/s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
esac
source "$(dirname "$0")/lib.sh"

make_venv .venv 3.12
log "installing msgpack into .venv"
.venv/bin/python -m pip install -q msgpack
module_is_current .venv || install_module .venv
log "running bench/run.py $*"
# The installed module is the one measured, never a build folder on PYTHONPATH.
env -u PYTHONPATH .venv/bin/python bench/run.py "$@"

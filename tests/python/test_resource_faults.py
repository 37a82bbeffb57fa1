"""Running out of memory: under a lowered address-space limit (RLIMIT_AS) in a
child process, a call that cannot get its memory ends in MemoryError or
PanicException, never in a crash, and the object still answers afterwards.

Each scenario runs in its own child. The child sets the limit to its current
address-space size plus some headroom (50 or 100 MB), keeps a ballast block
that it frees after the failure so that the object can be asked for its
counts under the limit, then lifts the limit and checks that the object
still changes, lists and writes itself. It reports as one JSON line; a child
ended by a signal is a crash.
"""

import json
import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="AddressSanitizer reserves terabytes of shadow memory, "
    "which an address-space limit cannot accommodate",
)

MB = 1024 * 1024

CHILD = textwrap.dedent(
    """
    import gc, json, resource, struct, sys
    import numpy
    from tavro_api import PyGraphDiff

    MB = 1024 * 1024
    scenario, headroom = sys.argv[1], int(sys.argv[2]) * MB

    def vm_size():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    def node_entries(count, text):
        # count node entries with distinct ids and the same JSON text, made
        # at C speed so that no big temporary list is needed.
        row = numpy.dtype([("id_len", "<u8"), ("id", "<u8", 2), ("text_len", "<u8"),
                           ("text", f"S{len(text)}")])
        rows = numpy.zeros(count, dtype=row)
        rows["id_len"] = 16
        rows["id"][:, 0] = numpy.arange(1, count + 1, dtype="<u8")
        rows["id"][:, 1] = 0x5A5A5A5A5A5A5A5A
        rows["text_len"] = len(text)
        rows["text"] = text
        return struct.pack("<Q", count) + rows.tobytes() + bytes(24)

    d = PyGraphDiff()
    d.add_node(bytes(16), {"label": "before"})
    ok_calls = 0

    if scenario == "many_edges":
        def act():
            global ok_calls
            i = 0
            while True:
                i += 1
                d.add_edge(i.to_bytes(16, "little"), bytes(16), 1.0)
                ok_calls += 1
    elif scenario == "many_labels":
        label = "x" * MB
        def act():
            global ok_calls
            i = 0
            while True:
                i += 1
                d.add_node(i.to_bytes(16, "big"), {"label": label})
                ok_calls += 1
    elif scenario == "from_bytes_many_nodes":
        blob = node_entries(2_000_000, b"{}")
        def act():
            PyGraphDiff.from_bytes(blob)
    elif scenario == "from_bytes_huge_label":
        text = b'{"label":"' + b"y" * (150 * MB) + b'"}'
        blob = struct.pack("<QQ", 1, 16) + bytes(16) + struct.pack("<Q", len(text)) + text
        blob += bytes(24)
        del text
        def act():
            PyGraphDiff.from_bytes(blob)
    elif scenario == "to_bytes_huge_label":
        d.add_node(b"\\x01" * 16, {"label": "z" * (120 * MB)})
        def act():
            d.to_bytes()
    elif scenario == "listing_many_nodes":
        big = PyGraphDiff.from_bytes(node_entries(1_000_000, b'{"label":"n","red":1}'))
        def act():
            big.new_or_updated_nodes()
    else:
        raise SystemExit(f"unknown scenario {scenario}")

    gc.collect()
    ballast = bytearray(48 * MB)
    resource.setrlimit(resource.RLIMIT_AS, (vm_size() + headroom, resource.RLIM_INFINITY))
    try:
        act()
        outcome = "completed"
    except BaseException as error:
        outcome = f"{type(error).__module__}.{type(error).__name__}"
        message = str(error)[:100]
    else:
        message = ""
    del ballast
    gc.collect()

    # Still under the limit, the object answers.
    nodes_after = d.num_nodes()
    edges_after = d.num_edges()
    # With the limit lifted it works in full: it changes, lists and is written.
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    d.add_node(b"\\x02" * 16, {"label": "after", "size": 2.0})
    d.add_edge(b"\\x02" * 16, b"\\x03" * 16, 0.5)
    listed = d.new_or_updated_nodes()["02020202-0202-0202-0202-020202020202"]
    round_trip = PyGraphDiff.from_bytes(d.to_bytes()).num_nodes() == d.num_nodes()
    print(json.dumps({
        "outcome": outcome, "message": message, "ok_calls": ok_calls,
        "nodes_after": nodes_after, "edges_after": edges_after,
        "listed": listed, "round_trip": round_trip,
    }))
    """
)

# scenario -> headroom in MB above the address space in use when the limit is set
SCENARIOS = {
    "many_edges": 50,
    "many_labels": 100,
    "from_bytes_many_nodes": 100,
    "from_bytes_huge_label": 100,
    "to_bytes_huge_label": 100,
    "listing_many_nodes": 100,
}


@pytest.mark.parametrize("scenario", sorted(SCENARIOS))
def test_running_out_of_memory_raises_and_leaves_the_object_usable(scenario):
    child = subprocess.run(
        [sys.executable, "-c", CHILD, scenario, str(SCENARIOS[scenario])],
        capture_output=True,
        text=True,
        timeout=300,
    )
    print(child.stdout.strip())
    print(child.stderr[-1500:])
    assert child.returncode >= 0, f"the child was killed by signal {-child.returncode}"
    assert child.returncode == 0
    report = json.loads(child.stdout.strip().splitlines()[-1])
    assert report["outcome"] in ("builtins.MemoryError", "pyo3_runtime.PanicException"), report
    assert report["listed"] == {"label": "after", "size": 2.0}
    assert report["round_trip"]
    if scenario == "many_edges":
        # The diff holds the edges of the calls that returned, and at most the
        # one that failed (the node added before is counted in nodes).
        assert report["edges_after"] in (report["ok_calls"], report["ok_calls"] + 1)
    if scenario == "many_labels":
        assert report["nodes_after"] in (report["ok_calls"] + 1, report["ok_calls"] + 2)

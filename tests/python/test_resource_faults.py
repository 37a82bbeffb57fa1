"""Running out of memory: in a child under a lowered address-space limit, a
call that cannot get its memory raises MemoryError or PanicException, never
crashes, and the object keeps working once the limit is lifted."""

import json
import os
import subprocess
import sys

import pytest

pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", "") or sys.platform != "linux",
    reason="Linux's address-space limit, which AddressSanitizer's shadow memory does not fit under",
)

CHILD = r"""
import json, resource, struct, sys
from tavro_api import PyGraphDiff

MB = 1 << 20
scenario = sys.argv[1]
d = PyGraphDiff()
d.add_node(bytes(16), {"label": "before"})

def add_many(add):
    for i in range(1, 1 << 40):
        add(i.to_bytes(16, "big"))

text = b'{"label":"' + b"y" * (150 * MB) + b'"}' if scenario == "from_bytes" else b""
blob = struct.pack("<QQ", 1, 16) + bytes(16) + struct.pack("<Q", len(text)) + text + bytes(24)
del text
if scenario == "to_bytes":
    d.add_node(b"\x01" * 16, {"label": "z" * (120 * MB)})
if scenario == "listing":
    for i in range(1, 600_000):
        d.add_node(i.to_bytes(16, "big"), {"label": "n", "red": 1})
label = "x" * MB
act = {"edges": lambda: add_many(lambda i: d.add_edge(i, bytes(16), 1.0)),
       "labels": lambda: add_many(lambda i: d.add_node(i, {"label": label})),
       "from_bytes": lambda: PyGraphDiff.from_bytes(blob), "to_bytes": d.to_bytes,
       "listing": d.new_or_updated_nodes}[scenario]
with open("/proc/self/status") as f:
    vm_size = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (vm_size + 100 * MB, resource.RLIM_INFINITY))
try:
    act()
    outcome = "completed"
except BaseException as error:
    outcome = f"{type(error).__module__}.{type(error).__name__}"
resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
d.add_node(b"\x02" * 16, {"label": "after", "size": 2.0})
listed = d.new_or_updated_nodes()["02020202-0202-0202-0202-020202020202"]
print(json.dumps([outcome, listed, PyGraphDiff.from_bytes(d.to_bytes()).num_nodes() == d.num_nodes()]))
"""


@pytest.mark.parametrize("scenario", ["edges", "labels", "from_bytes", "to_bytes", "listing"])
def test_running_out_of_memory_raises_and_leaves_the_object_usable(scenario):
    child = subprocess.run([sys.executable, "-c", CHILD, scenario], capture_output=True, text=True,
                           timeout=300)  # fmt: skip
    assert child.returncode == 0, f"child ended with {child.returncode}: {child.stderr[-1500:]}"
    outcome, listed, round_trip = json.loads(child.stdout.splitlines()[-1])
    assert outcome in ("builtins.MemoryError", "pyo3_runtime.PanicException")
    assert listed == {"label": "after", "size": 2.0} and round_trip

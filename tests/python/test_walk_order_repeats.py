"""The walk order of a diff depends on its history only, never on the process:
two separate interpreters that make the same calls write the same bytes, and
two that read the same bytes and write them again agree with each other."""

import os
import subprocess
import sys
import textwrap

import tavro_api

# Builds a diff from a fixed-seed history of mixed calls (or reads one from a
# file) and writes its to_bytes output to a file.
CHILD = textwrap.dedent(
    """
    import random
    import sys

    from tavro_api import PyGraphDiff

    mode, path_in, path_out = sys.argv[1:4]
    if mode == "build":
        rng = random.Random(20240611)
        ids = [rng.randbytes(16) for _ in range(400)]
        diff = PyGraphDiff()
        for step in range(4000):
            r = rng.random()
            a, b = rng.choice(ids), rng.choice(ids)
            if r < 0.45:
                diff.add_edge(a, b, rng.uniform(-10.0, 10.0))
            elif r < 0.60:
                diff.delete_edge(a, b)
            elif r < 0.64:
                diff.delete_node(a)
            else:
                update = {"label": f"node {step}", "red": rng.randrange(256)}
                if rng.random() < 0.5:
                    update["size"] = rng.uniform(0.0, 50.0)
                if rng.random() < 0.5:
                    update["show_label"] = rng.random() < 0.5
                diff.add_node(a, update)
    else:
        with open(path_in, "rb") as f:
            diff = PyGraphDiff.from_bytes(f.read())
    with open(path_out, "wb") as f:
        f.write(diff.to_bytes())
    """
)


def run_child(tmp_path, mode, path_in, path_out, hash_seed):
    script = tmp_path / "child.py"
    script.write_text(CHILD)
    env = dict(os.environ)
    # The children import the same tavro_api as this process, and each gets
    # its own string hash seed, so nothing of Python's hashing can line up.
    module_dir = os.path.dirname(tavro_api.__file__)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    env["PYTHONHASHSEED"] = str(hash_seed)
    result = subprocess.run(
        [sys.executable, str(script), mode, str(path_in), str(path_out)],
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    return path_out.read_bytes()


def section_counts(data):
    """The entry counts of the four sections, to check the history reached all of them."""
    diff = tavro_api.PyGraphDiff.from_bytes(data)
    return (
        len(diff.new_or_updated_nodes()),
        len(diff.deleted_nodes()),
        len(diff.new_or_updated_edges()),
        len(diff.deleted_edges()),
    )


def test_same_history_writes_the_same_bytes_in_two_processes(tmp_path):
    first = run_child(tmp_path, "build", "-", tmp_path / "first.bin", hash_seed=1)
    second = run_child(tmp_path, "build", "-", tmp_path / "second.bin", hash_seed=2)
    assert all(count > 10 for count in section_counts(first))
    assert first == second


def test_reading_the_same_bytes_writes_the_same_bytes_in_two_processes(tmp_path):
    original = run_child(tmp_path, "build", "-", tmp_path / "original.bin", hash_seed=3)
    first = run_child(tmp_path, "read", tmp_path / "original.bin", tmp_path / "first.bin", 4)
    second = run_child(tmp_path, "read", tmp_path / "original.bin", tmp_path / "second.bin", 5)
    assert len(first) == len(original)
    assert first == second

"""Calls the stubs must reject: mypy and pyright must each report errors on the marked lines only."""

from tavro_api import PyGraphDiff

diff = PyGraphDiff()
diff.add_node("not bytes", {})  # E: str is not bytes
diff.add_node(b"0" * 16, {"showLabel": True})  # E: misspelt key
diff.add_node(b"0" * 16, {"red": "1"})  # E: red is an int
diff.add_edge(b"0" * 16, b"1" * 16, "heavy")  # E: weight is a number
count: str = diff.num_nodes()  # E: counts are int

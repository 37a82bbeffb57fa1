"""The benchmark's figures as one horizontal bar chart (SVG, written by hand).

Every figure that has a floor gets a group of bars on one logarithmic axis in
units of that floor: tavro_api's bar, each peer's, and a tick at the goal. A
bar at 1 is as cheap as the floor; the dashed line marks it.
"""

from __future__ import annotations

import math
from html import escape

WIDTH = 900
LABEL_WIDTH = 250
RIGHT = 70
BAR = 13
GAP = 3
GROUP_GAP = 14
TOP = 58

COLOURS = {"tavro_api": "#1f5fa8"}
PEER_COLOUR = "#a9b4c2"
GOAL_COLOUR = "#c0392b"


def _groups(rows: list[dict]) -> list[dict]:
    """Per figure with a floor: its name, the floor's name, the bars
    (name, multiple of the floor) and the goal (a multiple, or None)."""
    groups = []
    by_workload: dict[str, list[dict]] = {}
    for r in rows:
        by_workload.setdefault(r["workload"], []).append(r)
    for workload, its in by_workload.items():
        floor = next((r for r in its if r["kind"] == "floor"), None)
        if floor is None:
            continue
        least = floor["peer_value"]
        goal = None
        if floor["goal"].endswith("x floor"):
            goal = float(floor["goal"].split()[1].rstrip("x"))
        elif floor["goal"].endswith("B per edge"):
            goal = float(floor["goal"].split()[1]) / least
        bars = [("tavro_api", floor["tavro_api"] / least)]
        bars += [(r["peer"], r["peer_value"] / least) for r in its if r["kind"] == "peer"]
        groups.append(
            {
                "workload": workload,
                "floor": floor["peer"].removeprefix("floor: "),
                "bars": bars,
                "goal": goal,
            }
        )
    return groups


def svg(rows: list[dict], title: str) -> str:
    groups = _groups(rows)
    values = [v for g in groups for _, v in g["bars"]] + [1.0]
    low = 10 ** math.floor(math.log10(min(values)))
    high = 10 ** math.ceil(math.log10(max(values)))
    plot = WIDTH - LABEL_WIDTH - RIGHT

    def x(value: float) -> float:
        return LABEL_WIDTH + plot * (math.log10(value) - math.log10(low)) / (
            math.log10(high) - math.log10(low)
        )

    height = TOP + sum(18 + len(g["bars"]) * (BAR + GAP) + GROUP_GAP for g in groups) + 30
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" '
        f'viewBox="0 0 {WIDTH} {height}" font-family="sans-serif" font-size="11">',
        f'<rect width="{WIDTH}" height="{height}" fill="white"/>',
        f'<text x="10" y="18" font-size="13" font-weight="bold">{escape(title)}</text>',
        '<text x="10" y="36">Time (or bytes) as a multiple of the floor: what the interpreter, '
        "the allocator and the kernel charge for the same work. Log scale; "
        f'<tspan fill="{GOAL_COLOUR}">|</tspan> goal.</text>',
    ]
    plot_bottom = height - 30
    decade = low
    while decade <= high:
        for step in (1, 2, 5):
            v = decade * step
            if low <= v <= high:
                xv = x(v)
                out.append(
                    f'<line x1="{xv:.1f}" y1="{TOP - 6}" x2="{xv:.1f}" y2="{plot_bottom}" '
                    f'stroke="#e3e3e3"/>'
                )
                out.append(
                    f'<text x="{xv:.1f}" y="{plot_bottom + 14}" text-anchor="middle" '
                    f'fill="#555">{v:g}x</text>'
                )
        decade *= 10
    y = TOP
    for g in groups:
        short_name = g["workload"].split(" (")[0]  # the counts are in the table
        out.append(
            f'<text x="10" y="{y + 10}" font-weight="bold">{escape(short_name)}</text>'
            f'<text x="{LABEL_WIDTH}" y="{y + 10}" fill="#555">'
            f"floor: {escape(g['floor'])}</text>"
        )
        y += 18
        for name, value in g["bars"]:
            colour = COLOURS.get(name, PEER_COLOUR)
            x0, x1 = x(low), x(value)
            out.append(f'<text x="24" y="{y + BAR - 3}">{escape(name)}</text>')
            out.append(
                f'<rect x="{x0:.1f}" y="{y}" width="{max(x1 - x0, 1):.1f}" height="{BAR}" '
                f'fill="{colour}"/>'
            )
            out.append(f'<text x="{x1 + 4:.1f}" y="{y + BAR - 3}">{value:.2f}x</text>')
            if name == "tavro_api" and g["goal"] is not None:
                xg = x(g["goal"])
                out.append(
                    f'<line x1="{xg:.1f}" y1="{y - 2}" x2="{xg:.1f}" y2="{y + BAR + 2}" '
                    f'stroke="{GOAL_COLOUR}" stroke-width="2"/>'
                )
            y += BAR + GAP
        y += GROUP_GAP
    x_floor = x(1.0)
    out.append(
        f'<line x1="{x_floor:.1f}" y1="{TOP - 6}" x2="{x_floor:.1f}" y2="{plot_bottom}" '
        'stroke="#333" stroke-dasharray="4 3"/>'
    )
    out.append("</svg>")
    return "\n".join(out) + "\n"

"""Two builds side by side: bench_pkz (codec, one core) and bench_cores (the tool, one thread
and all) of each, run in alternation, the order swapped every round, so that a machine whose
speed drifts weighs on both alike. Prints, per figure, each build's median and the median of
the ratios of the same round (B over A: above 1 when B is faster, below 1 when it takes less
memory) with their quartiles. On a shared machine a round's ratio varies far less than
either figure.

usage: python3 bench/compare_builds.py BUILD_A BUILD_B [rounds, default 5] [data folder]

A build folder holds bench_pkz, bench_cores and isocull (cmake -DCMAKE_BUILD_TYPE=Release).
BENCH_PKZ_POINTS (default 2000000) and BENCH_CORES_POINTS (default 8000000) set the sizes;
the bench_cores scenes are generated once into the data folder (default bench-data/).
"""

import os
import re
import statistics
import subprocess
import sys
from pathlib import Path

PKZ_LINE = re.compile(r"point type (\d+).*?encode\s+([\d.]+).*?decode\s+([\d.]+)")
CORES_LINE = re.compile(r"^(.+?)\s+\d+\s+(?:default|-cores \d+)\s+[\d.]+\s+[\d.]+\s+([\d.]+)\s+([\d.]+)"
                        r"\s+[\d.]+\s+([\d.]+)\s+([\d.]+)\s*$")


def pin_to_last_core():
    """bench_pkz on one core that stays the same: a move between cores costs its caches."""
    cores = sorted(os.sched_getaffinity(0))
    os.sched_setaffinity(0, {cores[-1]})


def bench_pkz(build, points):
    out = subprocess.run([str(build / "bench_pkz"), points], capture_output=True, text=True,
                         preexec_fn=pin_to_last_core, check=True).stdout
    figures = {}
    for match in PKZ_LINE.finditer(out):
        figures[f"bench_pkz type {match.group(1)} encode M/s"] = float(match.group(2))
        figures[f"bench_pkz type {match.group(1)} decode M/s"] = float(match.group(3))
    return figures


def bench_cores(build, data, env):
    out = subprocess.run([str(build / "bench_cores"), str(data)], capture_output=True, text=True,
                         env=env, check=True).stdout
    figures = {}
    for line in out.splitlines():
        match = CORES_LINE.match(line)
        if match:
            row = match.group(1).strip()
            figures[f"{row}, one thread M/s"] = float(match.group(2))
            figures[f"{row}, all M/s"] = float(match.group(3))
            figures[f"{row}, peak MB"] = max(float(match.group(4)), float(match.group(5)))
    return figures


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    builds = [Path(sys.argv[1]), Path(sys.argv[2])]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    data = Path(sys.argv[4]) if len(sys.argv) > 4 else Path("bench-data")
    data.mkdir(parents=True, exist_ok=True)
    pkz_points = os.environ.get("BENCH_PKZ_POINTS", "2000000")
    env = dict(os.environ, BENCH_CORES_RUNS="1",
               BENCH_CORES_POINTS=os.environ.get("BENCH_CORES_POINTS", "8000000"))
    figures = [{}, {}]  # per build: figure -> values in round order
    for round_number in range(rounds):
        order = (0, 1) if round_number % 2 == 0 else (1, 0)
        print(f"round {round_number + 1} of {rounds} ...", file=sys.stderr)
        for which in order:
            measured = bench_pkz(builds[which], pkz_points)
            measured.update(bench_cores(builds[which], data, env))
            for name, value in measured.items():
                figures[which].setdefault(name, []).append(value)
    a_name, b_name = builds[0].name or str(builds[0]), builds[1].name or str(builds[1])
    print(f"{'figure':44} {a_name[:12]:>12} {b_name[:12]:>12}  B/A median  quartiles")
    for name, a_values in figures[0].items():
        b_values = figures[1].get(name)
        if not b_values or len(b_values) != len(a_values):
            continue
        ratios = sorted(b / a for a, b in zip(a_values, b_values) if a > 0)
        if not ratios:
            continue
        low, high = ratios[len(ratios) // 4], ratios[(3 * len(ratios)) // 4]
        print(f"{name:44} {statistics.median(a_values):12.2f} {statistics.median(b_values):12.2f}"
              f"  {statistics.median(ratios):10.3f}  {low:.3f}..{high:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

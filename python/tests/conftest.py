"""Helpers of the module's tests: the built programs, scenes written by make_scene, LAS
point records read by hand, and a brute-force noise verdict."""

import math
import os
import re
import struct
import subprocess
from collections import Counter
from pathlib import Path

import numpy
import pytest

import isocull

# A folder of the build without the module (configured, not built) imports as an empty
# namespace: every test would fail on its own, one of them by hanging.
if not hasattr(isocull, "isolated"):
    raise ImportError(f"isocull is not built where PYTHONPATH points ({isocull.__path__}): "
                      "run make python")

BINARY_DIR = Path(os.environ.get("ISOCULL_BINARY_DIR", Path(__file__).parents[2] / "build"))
REAL_DATA_DIR = Path(os.environ.get("ISOCULL_REAL_DATA_DIR",
                                    Path(__file__).parents[3] / "shared" / "data" / "real"))
ISOCULL = BINARY_DIR / "isocull"
MAKE_SCENE = BINARY_DIR / "make_scene"


def run_command_line(args, cwd):
    """(exit code, stderr text) of the built isocull run in `cwd`."""
    done = subprocess.run([str(ISOCULL)] + [str(a) for a in args], cwd=cwd,
                          stdin=subprocess.DEVNULL, capture_output=True, check=False)
    return done.returncode, done.stderr.decode("utf-8", "replace")


def last_error_line(text):
    lines = [line for line in text.splitlines() if line.startswith(("ERROR", "FATAL ERROR"))]
    return lines[-1] if lines else ""


def without_times(text):
    """Standard error with the seconds and the rates masked: they differ from run to run."""
    text = re.sub(r"[0-9.e+-]+ sec", "T sec", text)
    return re.sub(r"[0-9.e+]+ points/sec", "R points/sec", text)


def without_seconds(report):
    """The report with every "seconds" field dropped."""
    if isinstance(report, dict):
        return {k: without_seconds(v) for k, v in report.items() if k != "seconds"}
    if isinstance(report, list):
        return [without_seconds(v) for v in report]
    return report


def make_scene(path, points, density=6.0, point_type=1, seed=1, noise=0.001, feet=False):
    args = [str(MAKE_SCENE), "-o", str(path), "-points", str(points), "-density", str(density),
            "-type", str(point_type), "-seed", str(seed), "-noise", str(noise)]
    if feet:
        args.append("-feet")
    subprocess.run(args, check=True, capture_output=True)
    return path


class LasPoints:
    """The point records of an uncompressed LAS file, read with the header's own numbers."""

    def __init__(self, path):
        data = Path(path).read_bytes()
        self.version_minor = data[25]
        header_size, = struct.unpack_from("<H", data, 94)
        offset, = struct.unpack_from("<I", data, 96)
        self.point_type = data[104] & 0x3F
        record_length, = struct.unpack_from("<H", data, 105)
        count, = struct.unpack_from("<I", data, 107)
        if self.version_minor >= 4 and header_size >= 255:
            count, = struct.unpack_from("<Q", data, 247)
        scale = struct.unpack_from("<3d", data, 131)
        shift = struct.unpack_from("<3d", data, 155)
        records = numpy.frombuffer(data, dtype=numpy.uint8, count=count * record_length,
                                   offset=offset).reshape(count, record_length)
        self.records = records
        integers = records[:, 0:12].copy().view("<i4")
        # As the tool computes a coordinate: integer times scale plus offset, in double.
        self.xyz = numpy.empty((count, 3))
        for axis in range(3):
            self.xyz[:, axis] = integers[:, axis].astype(numpy.float64) * scale[axis] + shift[axis]

    @property
    def classification(self):
        if self.point_type >= 6:
            return self.records[:, 16].copy()
        return self.records[:, 15] & 0x1F


def brute_force_noise(xyz, step_xy, step_z, isolated):
    """Noise when the point's cell and the 26 around it hold at most isolated + 1 points,
    the cells computed by floor(coordinate / step) in double precision, one point at a time."""
    cells = [(math.floor(x / step_xy), math.floor(y / step_xy), math.floor(z / step_z))
             for x, y, z in xyz.tolist()]
    counts = Counter(cells)
    verdicts = []
    for c, r, layer in cells:
        around = sum(counts.get((c + dc, r + dr, layer + dl), 0)
                     for dc in (-1, 0, 1) for dr in (-1, 0, 1) for dl in (-1, 0, 1))
        verdicts.append(around <= isolated + 1)
    return numpy.array(verdicts, dtype=bool)


def single(step):
    """A step as the tool holds it, in single precision."""
    return float(numpy.float32(step))


@pytest.fixture(scope="session")
def programs():
    missing = [p for p in (ISOCULL, MAKE_SCENE) if not p.exists()]
    if missing:
        pytest.skip(f"build the project first: {', '.join(map(str, missing))} missing")
    return BINARY_DIR

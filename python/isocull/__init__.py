"""isocull from Python: the noise verdict of LiDAR points held in numpy arrays, and the
whole isocull tool run in this process.

A point is noise when its grid cell (step_xy by step_xy by step_z) and the 26 cells around
it hold at most ``isolated`` other points.

>>> import numpy, isocull
>>> crowd = [[10.0 + 0.1 * i, 10.0, 2.0] for i in range(20)]
>>> xyz = numpy.array(crowd + [[100.0, 100.0, 50.0]])
>>> isocull.isolated(xyz)[-3:]
array([False, False,  True])

``isolated`` decides for coordinates held in memory; ``run`` processes point files as the
``isocull`` command does and returns its report.
"""

import json
import operator
import os
import struct

from . import _core
from ._core import Error

__all__ = ["Error", "isolated", "run", "__version__"]

__version__ = _core.version

Error.__module__ = __name__
Error.__doc__ = """A failure of isocull itself: a run that could not start or had to stop
(its message is the tool's "ERROR: " line), or temporary files that could not be written."""

# Steps are single precision in the tool; the largest finite one.
_FLOAT32_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
_ISOLATED_MAX = 2**31 - 1  # the tool's -isolated is a signed 32-bit number
_MEMORY_MB_MAX = (2**63 - 1) // 1048576


def _step(name, value):
    """The step as the tool holds it: a single-precision number above 0."""
    try:
        step = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number above 0, not {value!r}") from None
    if not 0.0 < step <= _FLOAT32_MAX:
        raise ValueError(f"{name} must be a finite number above 0, not {value!r}")
    single = struct.unpack("<f", struct.pack("<f", step))[0]
    if single == 0.0:
        raise ValueError(f"{name} {value!r} is 0 in single precision")
    return single


def _whole(name, value, low, high):
    try:
        number = operator.index(value)
    except TypeError:
        raise ValueError(f"{name} must be a whole number, not {value!r}") from None
    if number < low:
        raise ValueError(f"{name} must be {low} or more, not {number}")
    if number > high:
        raise ValueError(f"{name} must be at most {high}, not {number}")
    return number


def isolated(xyz, step_xy=4.0, step_z=None, isolated=5, memory_mb=6000):
    """The noise verdict of every point, exactly as isocull decides it for the same
    coordinates: the tool's own grid, counting and threshold.

    Args:
        xyz: an (N, 3) array of x, y, z; float64, or float32 (each coordinate widened on
            the fly). It is read where it lies, never copied, whatever its strides, and
            must not change during the call (which releases the GIL).
        step_xy: the cell's width and depth, above 0. Taken in single precision, as the
            tool takes -step_xy.
        step_z: the cell's height, above 0; step_xy when None.
        isolated: the most other points a noise point may have in its cell and the 26
            around it (the tool's -isolated); 0 or more.
        memory_mb: megabytes of grid tiles held in memory; beyond them, tiles go to
            temporary files in $TMPDIR (or /tmp), as the tool's do. The verdict is the
            same either way.

    Returns:
        A numpy array of N bools, True for each noise point.

    Raises:
        ValueError: xyz is not an (N, 3) float64 or float32 array, holds a NaN or an
            infinite coordinate (the message names its first row), a step is not above 0,
            isolated is below 0, or memory_mb below 1.
        isocull.Error: the grid's temporary files could not be made, written or read.
        KeyboardInterrupt: Ctrl-C during the call.

    Points whose coordinates lie too far out for the step (beyond about 2**31 cells) have
    no cell: they are never noise, and a RuntimeWarning says how many there were.

    Example, setting class 7 in the caller's own classification array:

    >>> import numpy, isocull
    >>> rng = numpy.random.default_rng(7)
    >>> xyz = rng.uniform(0.0, 40.0, size=(2000, 3))
    >>> xyz[:5] += 1000.0                          # five points far from the rest
    >>> classification = numpy.full(len(xyz), 2, dtype=numpy.uint8)
    >>> noise = isocull.isolated(xyz, step_xy=4.0, isolated=3)
    >>> classification[noise] = 7
    >>> int(noise.sum()), classification[:6].tolist()
    (5, [7, 7, 7, 7, 7, 2])
    """
    import numpy  # here, so that run() works where numpy is not installed

    array = numpy.asarray(xyz)
    if array.ndim != 2 or array.shape[1] != 3:
        raise ValueError(f"xyz must have the shape (N, 3), not {array.shape}")
    if array.dtype != numpy.float64 and array.dtype != numpy.float32:
        raise ValueError(f"xyz must hold float64 or float32 coordinates, not {array.dtype}")
    single_xy = _step("step_xy", step_xy)
    single_z = single_xy if step_z is None else _step("step_z", step_z)
    threshold = _whole("isolated", isolated, 0, _ISOLATED_MAX)
    megabytes = _whole("memory_mb", memory_mb, 1, _MEMORY_MB_MAX)
    return _core.isolated_points(array, single_xy, single_z, threshold, megabytes * 1048576)


def run(args):
    """Runs isocull in this process with a list of command-line arguments (without the
    program name), exactly as the command line would: the same outputs, and the same
    lines on standard error (file descriptor 2).

    Args:
        args: the arguments, each a str, bytes or path-like object, e.g.
            ["-i", "tile.las", "-o", "tile_denoised.las", "-step", "2"].

    Returns:
        The run's report as a dict: the same document that -report writes, with its
        "settings", one entry of "files" per input ("input", "output", "status" of "done",
        "failed" or "cut", "message", "points_read", "marked", ...) and the "totals". A
        file that failed does not raise: its entry says "failed" and why. -h and -version
        return an empty dict.

    Raises:
        isocull.Error: the run failed before its end (a bad option, no input, an output
            that cannot be opened where the run must stop); the message is the tool's
            "ERROR: " line.
        ValueError: args is empty (the tool would ask for its files on standard input)
            or an argument holds a NUL character.
        TypeError: args is a single string, or an argument is neither text nor a path.

    Runs take turns: a second thread's run waits for the first to end. The run installs
    no signal handlers: Ctrl-C (KeyboardInterrupt) takes effect when the run has ended,
    with every output complete, so no partial file is left behind.

    Example:

        report = isocull.run(["-i", "tile.las", "-o", "denoised.las", "-remove_noise"])
        for entry in report["files"]:
            print(entry["input"], entry["status"], entry["marked"], "of", entry["points_read"])
    """
    if isinstance(args, (str, bytes, os.PathLike)):
        raise TypeError("args must be a list of arguments, not a single one")
    arguments = [os.fsencode(argument) for argument in args]
    if not arguments:
        raise ValueError("args is empty: give the command-line arguments, e.g. ['-i', 'in.las']")
    for number, argument in enumerate(arguments):
        if b"\0" in argument:
            raise ValueError(f"argument {number} holds a NUL character")
    exit_code, report, error_line = _core.run_tool([b"isocull"] + arguments)
    # File names come back as os.fsdecode gives them, whatever their bytes.
    if report:
        return json.loads(report.decode("utf-8", "surrogateescape"))
    if exit_code == 0:
        return {}
    raise Error(error_line.decode("utf-8", "surrogateescape") or
                f"isocull ended with exit code {exit_code}")

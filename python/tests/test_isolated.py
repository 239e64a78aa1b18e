"""isocull.isolated: the tool's verdict on numpy arrays."""

import doctest
import os
import signal
import subprocess
import sys
import threading
import time
import tracemalloc
import warnings

import numpy
import pytest

import isocull
from conftest import (REAL_DATA_DIR, LasPoints, brute_force_noise, make_scene, run_command_line,
                      single)

NOISE_CLASS = 31  # a class the generated scenes never use


def tool_verdicts(tmp_path, input_path, step_xy, step_z, isolated):
    """The coordinates of the input's points and the tool's verdicts on them, read back from
    its classified output."""
    output = tmp_path / "classified.las"
    code, err = run_command_line(["-i", input_path, "-o", output, "-olas", "-step_xy", step_xy,
                                  "-step_z", step_z, "-isolated", isolated,
                                  "-classify_as", NOISE_CLASS], tmp_path)
    assert code == 0, err
    before, after = LasPoints(input_path), LasPoints(output)
    assert not (before.classification == NOISE_CLASS).any()
    assert numpy.array_equal(before.xyz, after.xyz)
    return after.xyz, after.classification == NOISE_CLASS


@pytest.mark.parametrize("points,density,point_type,step_xy,step_z,isolated", [
    (150000, 6.0, 1, 4.0, 4.0, 5),
    (150000, 1.0, 1, 2.0, 0.5, 3),
    (100000, 20.0, 6, 1.0, 1.0, 10),
    (100000, 3.0, 3, 0.7, 1.3, 1),
    (700000, 6.0, 1, 3.0, 2.0, 4),  # split into parts on machines of several cores
])
def test_equals_the_tool_on_generated_scenes(programs, tmp_path, points, density, point_type,
                                             step_xy, step_z, isolated):
    scene = make_scene(tmp_path / "scene.las", points, density, point_type, seed=points + isolated,
                       noise=0.01)
    xyz, expected = tool_verdicts(tmp_path, scene, step_xy, step_z, isolated)
    assert expected.any() and not expected.all()
    noise = isocull.isolated(xyz, step_xy=step_xy, step_z=step_z, isolated=isolated)
    assert noise.dtype == bool and noise.shape == (len(xyz),)
    assert numpy.array_equal(noise, expected)


def test_equals_the_tool_on_a_survey_of_another_producer(programs, tmp_path):
    real = REAL_DATA_DIR / "lone-star-split-1.pkz"
    if not real.exists():
        pytest.skip(f"real data missing: {real}")
    decoded = tmp_path / "decoded.las"
    # Decoded as it is: in cells 100 km wide no point is noise.
    code, err = run_command_line(["-i", real, "-o", decoded, "-olas", "-step", "100000"],
                                 tmp_path)
    assert code == 0, err
    # A dense strip: cells of 0.3 make some of its points noise.
    xyz, expected = tool_verdicts(tmp_path, decoded, 0.3, 0.3, 3)
    assert expected.any()
    assert numpy.array_equal(isocull.isolated(xyz, 0.3, 0.3, 3), expected)


def random_sets():
    """Small sets mixing crowds, loners, negative coordinates and points exactly on cell
    boundaries (multiples of the step, as the tool holds it)."""
    rng = numpy.random.default_rng(30)
    for number in range(12):
        step_xy = [1.0, 0.3, 4.0, 2.5][number % 4]
        step_z = [1.0, 0.7, 4.0, 0.1][number // 3 % 4]
        isolated = [0, 1, 2, 5, 14, 15][number % 6]
        count = int(rng.integers(50, 400))
        spread = float(rng.uniform(3.0, 30.0)) * step_xy
        xyz = rng.uniform(-spread, spread, size=(count, 3))
        xyz[:, 2] *= step_z / step_xy
        on_boundary = rng.random(count) < 0.4
        cells = rng.integers(-6, 6, size=(count, 3)).astype(numpy.float64)
        steps = numpy.array([single(step_xy), single(step_xy), single(step_z)])
        xyz[on_boundary] = (cells * steps)[on_boundary]
        crowd = rng.random(count) < 0.2
        xyz[crowd] = xyz[0] + rng.normal(0.0, 0.2 * step_xy, size=(int(crowd.sum()), 3))
        yield pytest.param(xyz, step_xy, step_z, isolated, id=f"set{number}")


@pytest.mark.parametrize("xyz,step_xy,step_z,isolated", random_sets())
def test_equals_a_brute_force_on_small_random_sets(xyz, step_xy, step_z, isolated):
    expected = brute_force_noise(xyz, single(step_xy), single(step_z), isolated)
    assert numpy.array_equal(isocull.isolated(xyz, step_xy, step_z, isolated), expected)
    # float32 coordinates are widened one by one: the verdict of the widened values.
    narrow = xyz.astype(numpy.float32)
    assert numpy.array_equal(isocull.isolated(narrow, step_xy, step_z, isolated),
                             brute_force_noise(narrow.astype(numpy.float64), single(step_xy),
                                               single(step_z), isolated))


def test_counts_the_cells_around_a_point_across_zero_and_in_all_26_directions():
    # One point at the origin's corner with one neighbour in each direction in turn: with
    # isolated=0 the pair is noise only when the neighbour is two cells away.
    for dx in (-1, 0, 1, 2):
        for dz in (-1, 0, 1, 2):
            xyz = numpy.array([[-0.1, 0.5, -0.1], [-0.1 + 4.0 * dx, 0.5, -0.1 + 4.0 * dz]])
            apart = abs(dx) == 2 or abs(dz) == 2
            assert isocull.isolated(xyz, isolated=0).tolist() == [apart, apart]


def test_reads_any_layout_in_place():
    rng = numpy.random.default_rng(5)
    xyz = rng.uniform(0.0, 60.0, size=(5000, 3))
    expected = isocull.isolated(xyz, step_xy=2.0, isolated=4)
    assert expected.any()
    wide = numpy.zeros((5000, 5))
    wide[:, 1:4] = xyz
    assert numpy.array_equal(isocull.isolated(wide[:, 1:4], 2.0, isolated=4), expected)
    assert numpy.array_equal(isocull.isolated(numpy.asfortranarray(xyz), 2.0, isolated=4),
                             expected)
    assert numpy.array_equal(isocull.isolated(xyz[::-1], 2.0, isolated=4), expected[::-1])
    assert numpy.array_equal(isocull.isolated(xyz[::2], 2.0, isolated=4),
                             brute_force_noise(xyz[::2], 2.0, 2.0, 4))
    assert isocull.isolated(xyz.tolist(), 2.0, isolated=4).tolist() == expected.tolist()
    assert isocull.isolated(numpy.empty((0, 3))).shape == (0,)


@pytest.mark.parametrize("dtype", ["float64", "float32"])
def test_reads_the_array_where_it_lies(dtype):
    xyz = spread_scene(1_000_000, 9).astype(dtype)
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        before, _ = tracemalloc.get_traced_memory()
        noise = isocull.isolated(xyz, 2.0)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    # The verdicts' own bytes and a little; a copy of the points would show.
    assert peak - before < noise.nbytes + xyz.nbytes // 8


def test_step_z_defaults_to_step_xy():
    rng = numpy.random.default_rng(8)
    xyz = rng.uniform(0.0, 30.0, size=(3000, 3))
    assert numpy.array_equal(isocull.isolated(xyz, step_xy=1.5),
                             isocull.isolated(xyz, step_xy=1.5, step_z=1.5))
    assert not numpy.array_equal(isocull.isolated(xyz, step_xy=1.5),
                                 isocull.isolated(xyz, step_xy=1.5, step_z=4.0))


def nan_at(row, axis, value=numpy.nan):
    xyz = numpy.zeros((10, 3))
    xyz[row, axis] = value
    return xyz


@pytest.mark.parametrize("xyz,kwargs,message", [
    (numpy.zeros(6), {}, r"shape \(N, 3\), not \(6,\)"),
    (numpy.zeros((6, 2)), {}, r"shape \(N, 3\), not \(6, 2\)"),
    (numpy.zeros((2, 3, 1)), {}, r"shape \(N, 3\), not \(2, 3, 1\)"),
    (numpy.zeros((6, 3), dtype=numpy.int64), {}, "float64 or float32 coordinates, not int64"),
    (numpy.zeros((6, 3), dtype=">f8"), {}, "float64 or float32 coordinates, not >f8"),
    (numpy.zeros((6, 3), dtype=numpy.float16), {}, "not float16"),
    (nan_at(3, 0), {}, "NaN or infinite coordinate in row 3$"),
    (nan_at(0, 2, numpy.inf), {}, "in row 0$"),
    (nan_at(9, 1, -numpy.inf).astype(numpy.float32), {}, "in row 9$"),
    (numpy.zeros((6, 3)), {"step_xy": 0}, "step_xy must be a finite number above 0, not 0"),
    (numpy.zeros((6, 3)), {"step_xy": -2.0}, "step_xy must be a finite number above 0"),
    (numpy.zeros((6, 3)), {"step_xy": float("nan")}, "step_xy must be a finite number above 0"),
    (numpy.zeros((6, 3)), {"step_xy": float("inf")}, "step_xy must be a finite number above 0"),
    (numpy.zeros((6, 3)), {"step_xy": "four"}, "step_xy must be a number above 0"),
    (numpy.zeros((6, 3)), {"step_xy": 1e-60}, "step_xy 1e-60 is 0 in single precision"),
    (numpy.zeros((6, 3)), {"step_z": 0.0}, "step_z must be a finite number above 0"),
    (numpy.zeros((6, 3)), {"isolated": -1}, "isolated must be 0 or more, not -1"),
    (numpy.zeros((6, 3)), {"isolated": 2**31}, "isolated must be at most 2147483647"),
    (numpy.zeros((6, 3)), {"isolated": 2.5}, "isolated must be a whole number"),
    (numpy.zeros((6, 3)), {"memory_mb": 0}, "memory_mb must be 1 or more, not 0"),
])
def test_bad_input_raises_value_error_naming_the_problem(xyz, kwargs, message):
    with pytest.raises(ValueError, match=message):
        isocull.isolated(xyz, **kwargs)


def test_points_out_of_the_grid_are_never_noise_and_warned_about():
    xyz = numpy.array([[1e15, 0.0, 0.0], [0.0, 0.0, 0.0], [50.0, 50.0, 50.0]])
    with pytest.warns(RuntimeWarning, match="^1 points have no grid cell"):
        noise = isocull.isolated(xyz, step_xy=1e-3, step_z=1e-3)
    assert noise.tolist() == [False, True, True]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        isocull.isolated(xyz[1:], step_xy=1e-3)


def spread_scene(count, seed):
    """Points over a square wide enough that 1 MB of tiles cannot hold its grid."""
    rng = numpy.random.default_rng(seed)
    xyz = rng.uniform(-2000.0, 2000.0, size=(count, 3))
    xyz[:, 2] = rng.uniform(0.0, 3.0, size=count)
    return xyz


def test_a_small_memory_budget_spills_and_gives_the_same_verdicts(tmp_path):
    xyz = spread_scene(60000, 11)
    expected = brute_force_noise(xyz, 2.0, 2.0, 0)
    assert expected.any() and not expected.all()
    assert numpy.array_equal(isocull.isolated(xyz, 2.0, isolated=0, memory_mb=1), expected)
    assert numpy.array_equal(isocull.isolated(xyz, 2.0, isolated=0), expected)
    # Proof that the small budget spills: with no file allowed to grow, it fails, where the
    # default budget does not need a file at all.
    script = (
        "import resource, numpy, sys, isocull\n"
        "sys.path.insert(0, sys.argv[1])\n"
        "from test_isolated import spread_scene\n"
        "xyz = spread_scene(60000, 11)\n"
        "resource.setrlimit(resource.RLIMIT_FSIZE, (0, resource.RLIM_INFINITY))\n"
        "isocull.isolated(xyz, 2.0, isolated=0)\n"
        "try:\n"
        "    isocull.isolated(xyz, 2.0, isolated=0, memory_mb=1)\n"
        "except isocull.Error as error:\n"
        "    print('Error:', error)\n")
    module_folder = os.path.dirname(os.path.dirname(isocull.__file__))
    environment = dict(os.environ, PYTHONPATH=module_folder)
    done = subprocess.run([sys.executable, "-c", script, os.path.dirname(__file__)],
                          capture_output=True, text=True, cwd=tmp_path, env=environment,
                          check=False)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "Error: the temporary files of the grid could not be written\n"
    assert "ERROR: " in done.stderr


def test_releases_the_gil_while_it_works():
    xyz = spread_scene(3_000_000, 3)
    finished = threading.Event()
    took = []

    def work():
        try:
            start = time.perf_counter()
            isocull.isolated(xyz, 2.0)
            took.append(time.perf_counter() - start)
        finally:
            finished.set()  # also when the call fails: the loop below must end

    worker = threading.Thread(target=work)
    longest_pause = 0.0
    last = time.perf_counter()
    worker.start()
    while not finished.is_set():
        now = time.perf_counter()
        longest_pause = max(longest_pause, now - last)
        last = now
    worker.join()
    assert took, "isolated() failed in the thread"
    # Holding the GIL, the call would stop this loop for all of its time.
    assert longest_pause < 0.5 * took[0], (longest_pause, took[0])


def test_ctrl_c_raises_keyboard_interrupt_and_a_later_call_is_whole():
    xyz = spread_scene(6_000_000, 4)
    started = threading.Event()

    def interrupt():
        started.wait()
        time.sleep(0.05)
        os.kill(os.getpid(), signal.SIGINT)

    sender = threading.Thread(target=interrupt)
    sender.start()
    with pytest.raises(KeyboardInterrupt):
        try:
            started.set()
            isocull.isolated(xyz, 2.0)
        finally:
            sender.join()  # the interrupt comes inside this block, whenever the call ends
            time.sleep(0.05)
    small = xyz[:5000]
    assert numpy.array_equal(isocull.isolated(small, 2.0), brute_force_noise(small, 2.0, 2.0, 5))


def test_docstring_examples_hold():
    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    for test in finder.find(isocull, "isocull", globs={}):
        runner.run(test)
    assert runner.summarize(verbose=False).failed == 0
    assert runner.summarize(verbose=False).attempted >= 2

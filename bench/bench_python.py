"""isocull.isolated on 20 million points held in memory, beside the tool's LAS -> LAS run
on the same points (and its first pass alone, from its -v lines), with the peak memory of
each. The scene is the one bench_isocull uses, generated once into the data folder.

usage: PYTHONPATH=build/python python3 bench/bench_python.py [data folder] [points]
"""

import os
import re
import struct
import subprocess
import sys
import time
from pathlib import Path

BUILD_DIR = Path(os.environ.get("ISOCULL_BUILD_DIR", Path(__file__).resolve().parents[1] / "build"))
CHUNK_POINTS = 1 << 20


def read_coordinates(path, dtype_name):
    """The scene's coordinates as an (N, 3) array, filled a chunk at a time, so that the
    process holds little beyond the array itself."""
    import numpy
    with open(path, "rb") as las:
        header = las.read(375)
        offset, = struct.unpack_from("<I", header, 96)
        record_length, = struct.unpack_from("<H", header, 105)
        count, = struct.unpack_from("<I", header, 107)
        scale = numpy.array(struct.unpack_from("<3d", header, 131))
        shift = numpy.array(struct.unpack_from("<3d", header, 155))
        xyz = numpy.empty((count, 3), dtype=dtype_name)
        las.seek(offset)
        for start in range(0, count, CHUNK_POINTS):
            n = min(CHUNK_POINTS, count - start)
            records = numpy.frombuffer(las.read(n * record_length), dtype=numpy.uint8)
            integers = records.reshape(n, record_length)[:, :12].copy().view("<i4")
            xyz[start:start + n] = integers * scale + shift
    return xyz


def resident_megabytes(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


def measure_module(path, dtype_name):
    """Runs in a child process: prints seconds, noise points, array MB, resident MB before
    and peak MB during isolated()."""
    import isocull
    xyz = read_coordinates(path, dtype_name)
    before = resident_megabytes("VmRSS")
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # the peak starts again from here
    start = time.perf_counter()
    noise = isocull.isolated(xyz)
    seconds = time.perf_counter() - start
    peak = resident_megabytes("VmHWM")
    print(seconds, int(noise.sum()), xyz.nbytes / 1048576.0, before, peak)


def peak_of_child(args, read_stderr):
    """(seconds, peak resident MB, what the child printed) of a child process, its peak taken
    from wait4; one stream is read (the other goes to /dev/null or this one's stderr)."""
    start = time.perf_counter()
    stdout = subprocess.DEVNULL if read_stderr else subprocess.PIPE
    stderr = subprocess.PIPE if read_stderr else None
    with subprocess.Popen(args, stdout=stdout, stderr=stderr) as child:
        printed = (child.stderr if read_stderr else child.stdout).read().decode()
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.perf_counter() - start
    if child.returncode != 0:
        sys.exit(f"ERROR: {' '.join(map(str, args))} failed:\n{printed}")
    return seconds, usage.ru_maxrss / 1024.0, printed


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--module":
        measure_module(sys.argv[2], sys.argv[3])
        return
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else "bench-data")
    points = int(sys.argv[2]) if len(sys.argv) > 2 else 20_000_000
    folder.mkdir(parents=True, exist_ok=True)
    scene = folder / f"scene_{points}_type1.las"
    if not scene.exists():
        print(f"generating {scene} ...", file=sys.stderr)
        subprocess.run([str(BUILD_DIR / "make_scene"), "-o", str(scene), "-points", str(points)],
                       check=True)
    output = folder / "bench_python_out.las"

    print(f"isocull.isolated on {points} points in memory beside the tool on the same points "
          f"(default settings; {os.cpu_count()} cores)")
    print(f"{'what':<34} {'seconds':>8} {'Mpoints/s':>10} {'peak MB':>9} {'noise':>8}")
    seconds, peak, err = peak_of_child([str(BUILD_DIR / "isocull"), "-i", str(scene),
                                        "-o", str(output), "-v"], read_stderr=True)
    output.unlink()
    first_pass = re.search(r"took ([0-9.e+-]+) sec\. created", err)
    marked = re.search(r"classified (\d+) noise points", err)
    print(f"{'tool, LAS -> LAS':<34} {seconds:8.2f} {points / seconds / 1e6:10.2f} {peak:9.1f} "
          f"{marked.group(1) if marked else '?':>8}")
    if first_pass:
        first = float(first_pass.group(1))
        print(f"{'tool, first pass alone (-v)':<34} {first:8.2f} {points / first / 1e6:10.2f}")
    for dtype_name in ("float64", "float32"):
        _, _, out = peak_of_child([sys.executable, __file__, "--module", str(scene), dtype_name],
                                  read_stderr=False)
        took, noise, array_mb, before, peak = out.split()
        took = float(took)
        label = f"isolated(), {dtype_name} array"
        print(f"{label:<34} {took:8.2f} {points / took / 1e6:10.2f} {float(peak):9.1f} "
              f"{noise:>8}")
        print(f"{'':<34} array {float(array_mb):.1f} MB, resident before {float(before):.1f} MB,"
              f" peak above the array {float(peak) - float(array_mb):.1f} MB (budget 150)")


if __name__ == "__main__":
    main()

"""isocull.run: the tool in this process, against the command line."""

import json
import os
import re
import signal
import shutil
import threading
import time

import pytest

import isocull
from conftest import (REAL_DATA_DIR, last_error_line, make_scene, run_command_line,
                      without_seconds, without_times)


@pytest.fixture(scope="module")
def scenes(programs, tmp_path_factory):
    folder = tmp_path_factory.mktemp("scenes")
    make_scene(folder / "tile.las", 60000, density=3.0, noise=0.01)
    make_scene(folder / "layered.las", 40000, density=8.0, point_type=6, seed=4, noise=0.01)
    return folder


def in_process(args, cwd, capfd):
    """(report, stderr) of isocull.run in `cwd`."""
    capfd.readouterr()
    previous = os.getcwd()
    os.chdir(cwd)
    try:
        report = isocull.run(args)
    finally:
        os.chdir(previous)
    return report, capfd.readouterr().err


def two_folders(tmp_path, scenes, names):
    """Two folders holding the same inputs: one for the command line, one for run()."""
    folders = []
    for side in ("command_line", "in_process"):
        folder = tmp_path / side
        folder.mkdir()
        for name in names:
            shutil.copyfile(scenes / name, folder / name)
        folders.append(folder)
    return folders


def files_of(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.is_file()}


@pytest.mark.parametrize("args", [
    ["-i", "tile.las", "-o", "out.las"],
    ["-i", "tile.las", "-o", "out.pkz", "-step", "2", "-isolated", "3", "-remove_noise"],
    ["-i", "layered.las", "-opkz", "-flag_as_withheld", "-v"],
    ["-i", "tile.las", "layered.las", "-odix", "_d", "-classify_as", "18", "-cores", "2"],
    ["-i", "*.las", "-odir", "out", "-step_xy", "1.5", "-isolated", "2", "-olas"],
    ["-i", "tile.las", "-o", "out.txt", "-otxt", "-quiet"],
], ids=["classify", "remove-pkz", "withheld-verbose", "two-files-at-once", "wildcard-odir",
        "text-quiet"])
def test_gives_the_output_bytes_report_and_messages_of_the_command_line(
        scenes, tmp_path, capfd, args):
    command_line, in_folder = two_folders(tmp_path, scenes, ["tile.las", "layered.las"])
    for folder in (command_line, in_folder):
        (folder / "out").mkdir()
    code, err = run_command_line(args + ["-report", "report.json"], command_line)
    assert code == 0, err
    expected_report = json.loads((command_line / "report.json").read_text())
    (command_line / "report.json").unlink()

    report, in_err = in_process(args, in_folder, capfd)
    assert without_seconds(report) == without_seconds(expected_report)
    assert report["totals"]["done"] == len(report["files"]) > 0
    assert files_of(in_folder) == files_of(command_line)
    assert files_of(in_folder / "out") == files_of(command_line / "out")
    assert without_times(in_err) == without_times(err)


def test_the_dict_is_the_report_file_of_the_same_run(scenes, tmp_path, capfd):
    shutil.copyfile(scenes / "tile.las", tmp_path / "tile.las")
    report, _ = in_process(["-i", "tile.las", "-o", "out.las", "-report", "run.json"], tmp_path,
                           capfd)
    assert report == json.loads((tmp_path / "run.json").read_text())
    entry = report["files"][0]
    assert (entry["input"], entry["output"], entry["status"]) == ("tile.las", "out.las", "done")
    assert entry["points_read"] == 60000 and entry["marked"] > 0


def test_a_failed_file_shows_in_the_dict(scenes, tmp_path, capfd):
    shutil.copyfile(scenes / "tile.las", tmp_path / "tile.las")
    (tmp_path / "broken.las").write_bytes(b"LASF" + bytes(300))
    cut = (scenes / "layered.las").read_bytes()
    (tmp_path / "cut.las").write_bytes(cut[: len(cut) // 2])
    report, err = in_process(["-i", "broken.las", "tile.las", "cut.las", "-odix", "_d"],
                             tmp_path, capfd)
    status = {entry["input"]: (entry["status"], entry["message"]) for entry in report["files"]}
    assert status["tile.las"] == ("done", None)
    assert status["broken.las"][0] == "failed" and status["broken.las"][1]
    assert status["cut.las"][0] == "cut" and "end-of-file after" in status["cut.las"][1]
    assert report["totals"]["failed"] == 1 and report["totals"]["cut"] == 1
    assert "ERROR: " in err
    assert not (tmp_path / "broken_d.las").exists()


def test_file_names_that_are_no_utf8_come_back_as_python_names_them(scenes, tmp_path, capfd):
    name = os.fsdecode(b"t\xffile.las")
    shutil.copyfile(scenes / "tile.las", tmp_path / name)
    report, _ = in_process(["-i", name, "-odix", "_d"], tmp_path, capfd)
    entry = report["files"][0]
    assert entry["input"] == name and entry["status"] == "done"
    assert os.fsencode(entry["output"]) == b"t\xffile_d.las"
    assert (tmp_path / os.fsdecode(b"t\xffile_d.las")).exists()


ERROR_CASES = [
    ["-i", "tile.las", "-step_xy", "0"],
    ["-i", "tile.las", "-isolated"],
    ["-i", "tile.las", "-classify_as", "32"],
    ["-i", "tile.las", "-bogus"],
    ["-i", "tile.las", "-mem", "lots"],
    ["-o", "out.las"],
    ["-i", "tile.las", "-o", "tile.las"],
    ["-i", "tile.las", "-olay", "-inside", "0", "0", "1", "1"],
]


@pytest.mark.parametrize("args", ERROR_CASES, ids=[" ".join(a[2:] or a) for a in ERROR_CASES])
def test_a_failed_run_raises_error_with_the_tools_error_line(scenes, tmp_path, capfd, args):
    command_line, in_folder = two_folders(tmp_path, scenes, ["tile.las"])
    code, err = run_command_line(args, command_line)
    assert code != 0
    expected = last_error_line(err)
    assert expected.startswith("ERROR: ")
    with pytest.raises(isocull.Error) as raised:
        in_process(args, in_folder, capfd)
    assert str(raised.value) == expected
    assert without_times(capfd.readouterr().err) == without_times(err)
    assert files_of(in_folder) == files_of(command_line)


@pytest.mark.parametrize("args,error,message", [
    ([], ValueError, "args is empty"),
    ("-i tile.las", TypeError, "list of arguments"),
    (["-i", "ti\0le.las"], ValueError, "argument 1 holds a NUL character"),
    (["-i", 4], TypeError, "int"),
])
def test_arguments_that_are_no_command_line_are_refused(args, error, message):
    with pytest.raises(error, match=message):
        isocull.run(args)


def test_version_and_help_return_an_empty_dict(programs, tmp_path, capfd):
    code, err = run_command_line(["-version"], tmp_path)
    assert code == 0
    assert re.search(r"version (\d+)", err).group(1) == isocull.__version__
    assert isocull.run(["-version"]) == {}
    assert isocull.run(["-h"]) == {}
    assert "usage:" in capfd.readouterr().out


def test_a_second_run_behaves_like_the_first(scenes, tmp_path, capfd):
    shutil.copyfile(scenes / "tile.las", tmp_path / "tile.las")
    args = ["-i", "tile.las", "-o", "out.las", "-v"]
    first, first_err = in_process(args, tmp_path, capfd)
    first_bytes = (tmp_path / "out.las").read_bytes()
    with pytest.raises(isocull.Error, match="cannot understand argument '-nonsense'"):
        in_process(args + ["-nonsense"], tmp_path, capfd)
    (tmp_path / "out.las").unlink()
    second, second_err = in_process(args, tmp_path, capfd)
    assert without_seconds(second) == without_seconds(first)
    assert without_times(second_err) == without_times(first_err)
    assert (tmp_path / "out.las").read_bytes() == first_bytes
    # Python's own handlers are still in place: the run installed none.
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    assert signal.getsignal(signal.SIGPIPE) == signal.SIG_IGN
    assert signal.getsignal(signal.SIGTERM) == signal.SIG_DFL


def test_ctrl_c_during_a_run_raises_keyboard_interrupt_after_it_with_the_output_complete(
        programs, tmp_path, monkeypatch):
    scene = make_scene(tmp_path / "scene.las", 300000, density=4.0)
    data = scene.read_bytes()
    temporary = tmp_path / "temporary"
    temporary.mkdir()
    monkeypatch.setenv("TMPDIR", str(temporary))
    output = tmp_path / "out.las"
    # The points come through a pipe on standard input, so the run cannot end before the
    # interrupt: it waits for the second half, sent after the signal.
    read_end, write_end = os.pipe()
    saved_stdin = os.dup(0)
    os.dup2(read_end, 0)
    os.close(read_end)

    def feed():
        with os.fdopen(write_end, "wb") as pipe:
            pipe.write(data[: len(data) // 2])
            pipe.flush()
            os.kill(os.getpid(), signal.SIGINT)
            pipe.write(data[len(data) // 2:])

    feeder = threading.Thread(target=feed)
    try:
        feeder.start()
        with pytest.raises(KeyboardInterrupt):
            isocull.run(["-stdin", "-o", output])
    finally:
        feeder.join()
        os.dup2(saved_stdin, 0)
        os.close(saved_stdin)
    expected = tmp_path / "expected.las"
    code, err = run_command_line(["-i", scene, "-o", expected], tmp_path)
    assert code == 0, err
    assert output.read_bytes() == expected.read_bytes()
    assert list(temporary.iterdir()) == []


def test_real_files_give_the_bytes_of_the_command_line(programs, tmp_path, capfd):
    names = ["simple.pkz", "1_4_w_evlr.las", "fullwave.pkz"]
    if not all((REAL_DATA_DIR / name).exists() for name in names):
        pytest.skip(f"real data missing in {REAL_DATA_DIR}")
    for name in names:
        args = ["-i", REAL_DATA_DIR / name, "-o", "out" + os.path.splitext(name)[1], "-step", "1"]
        (tmp_path / "cli").mkdir(exist_ok=True)
        (tmp_path / "py").mkdir(exist_ok=True)
        code, err = run_command_line(args, tmp_path / "cli")
        assert code == 0, err
        report, _ = in_process(args, tmp_path / "py", capfd)
        assert report["files"][0]["status"] == "done"
        assert files_of(tmp_path / "py") == files_of(tmp_path / "cli"), name

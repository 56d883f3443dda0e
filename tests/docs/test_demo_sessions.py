"""The three demos run one session: ./scripts/demo.sh (examples/session.vbs under Wine),
--native (tools/demo, pulsyn-demo) and --python (examples/session_linux.py). The VBScript
session is held to tests/clients/check_session.py in the Windows builds; here the two Linux
clients run as demo.sh runs them, against the simulator program, and each must pass the same
check and leave the simulator in the same state as the other, paradigm by paradigm."""
import json
import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(os.environ.get("QUOR_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
sys.path.insert(0, str(ROOT / "tests" / "clients"))
import check_session  # noqa: E402 (the examples' session, as every client is checked)


def run_session(tmp_path, command, env=None):
    """Runs one client against a fresh simulator; its output, frames and final state."""
    sim = subprocess.Popen([os.environ["QUOR_PULSYN_SIM"], "--quiet", "--state-file", str(tmp_path / "state.json")],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    try:
        path = sim.stdout.readline().strip()
        port = sim.stdout.readline().rsplit(":", 1)[1].strip()
        client = subprocess.run(command + ["COM7"], capture_output=True, text=True, timeout=120, cwd=tmp_path,
                                env={**os.environ, **(env or {}), "QUORLIB_COM7": path})
        (tmp_path / "output.txt").write_text(client.stdout)

        def ask(*words):
            answer = subprocess.run([os.environ["QUOR_PULSYN_SIM"], "--ask", port, *words],
                                    capture_output=True, text=True, timeout=60)
            assert answer.returncode == 0, answer.stdout + answer.stderr
            return json.loads(answer.stdout)

        ask("wait", "idle")
        (tmp_path / "frames.json").write_text(json.dumps(ask("frames")))
        ask("quit")
        assert sim.wait(timeout=60) == 0
    finally:
        if sim.poll() is None:
            sim.kill()
            sim.wait()
    return client, json.loads((tmp_path / "state.json").read_text())


def device_state(state):
    """What the device holds, without what differs from run to run (times, the line's path)."""
    return {"paradigm": state["paradigm"], "paradigms": state["paradigms"],
            "triggers": [(t["channel"], t["paradigm"]) for t in state["triggers"]]}


@pytest.fixture(scope="module")
def sessions(tmp_path_factory):
    runs = {}
    native = tmp_path_factory.mktemp("native")
    runs["native"] = native, *run_session(native, [os.environ["QUOR_PULSYN_DEMO"], "--log", "pulsyn-session.rtf"])
    python = tmp_path_factory.mktemp("python")
    runs["python"] = python, *run_session(python, ["/usr/bin/python3", str(ROOT / "examples" / "session_linux.py")],
                                          {"PYTHONPATH": os.environ["QUOR_QUORLIB_DIR"]})
    return runs


def test_the_native_demo_is_the_vbscript_session(sessions):
    folder, client, _ = sessions["native"]
    assert client.returncode == 0, client.stdout + client.stderr
    # Output, frames, state and saved log, checked as the VBScript session's are.
    checked = subprocess.run([sys.executable, str(ROOT / "tests" / "clients" / "check_session.py"),
                              str(folder / "output.txt"), str(folder / "frames.json"), str(folder / "state.json"),
                              str(folder / "pulsyn-session.rtf")], capture_output=True, text=True)
    assert checked.returncode == 0, checked.stderr


def test_the_python_demo_sends_the_same_frames(sessions):
    folder, client, _ = sessions["python"]
    assert client.returncode == 0, client.stdout + client.stderr
    assert client.stdout.splitlines()[-1] == "Session complete."
    assert json.loads((folder / "frames.json").read_text())["frames"] == check_session.EXPECTED_FRAMES


def test_both_leave_the_stimulator_in_one_state(sessions):
    native, python = device_state(sessions["native"][2]), device_state(sessions["python"][2])
    assert native == python

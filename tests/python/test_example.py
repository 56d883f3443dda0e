"""examples/session_linux.py, run as a user runs it, against the simulator."""
import os
import subprocess
import sys

from check_session import CHANNEL_ERROR, EXPECTED_FRAMES
from conftest import Simulator, check_lab_session_state

EXAMPLE = os.path.join(os.environ["QUOR_SOURCE_DIR"], "examples", "session_linux.py")


def test_the_linux_example_session_programs_the_device_and_saves_its_log(tmp_path):
    device = Simulator()  # its own: this process may still hold the shared one's port
    try:
        log = tmp_path / "session.rtf"
        # The port as on Windows: a COM7 argument, which QUORLIB_COM7 maps to a device here.
        run = subprocess.run([sys.executable, EXAMPLE, "COM7", f"--log={log}"],
                             env=dict(os.environ, QUORLIB_COM7=device.path), capture_output=True, text=True,
                             timeout=120)
        assert run.returncode == 0, run.stdout + run.stderr
        lines = run.stdout.splitlines()
        assert "Connected." in lines and lines[-1] == "Session complete."
        steps = [line.strip() for line in lines if line.startswith("  ")]
        mistake = "SetChannelDelay 10, 0.5 s: quorlib.ArgumentError: " + CHANNEL_ERROR
        assert mistake in steps
        others = [s for s in steps if s != mistake]
        assert len(others) == 23 and all(s.endswith((": accepted", ": done")) for s in others), others
        assert sum(s.endswith(": accepted") for s in others) == 12

        assert device.frames() == EXPECTED_FRAMES
        check_lab_session_state(device.state())

        saved = log.read_bytes()
        assert saved.startswith(b"{\\rtf") and b">0012L1+25.00E-3R" in saved and b">0003C23" in saved
    finally:
        device.stop()

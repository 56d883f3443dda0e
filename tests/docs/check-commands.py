#!/usr/bin/env python3
"""Every shell command that README.md, examples/INSTALL.md and docs/reference.md show is run
here, on Linux, against the simulator where it needs a device, unless it is marked as a
Windows command or listed below as one this check cannot run, with the reason.

    check-commands.py SOURCE_DIR BINARY_DIR

How the documents mark commands:
- A fenced block tagged `sh` holds Linux shell commands, one a line (a "# ..." tail is a
  comment); `bat` and `powershell` blocks are Windows-only; `vbscript`, `python` and other
  tags are program text, not commands.
- An inline code span is a command when it starts with a program (after any VAR=value
  settings): a path (`./scripts/...`, `build/...`, `tests/...`) or a program named below.
  Spans that start with a Windows program (cscript, regsvr32, setx, powershell, dotnet, pip,
  python, which Linux spells python3, a .exe, a C:\\ path) are Windows-only.

Placeholders are filled in when a command runs: PORT is the running simulator's control port,
COM7 is its line (through QUORLIB_COM7), /tmp/ and $WINEPREFIX are folders of this run, and
build/native/ is BINARY_DIR. A command fails the check when it exits with another status than
0; a simulator started by a command must print its line and control port, and then is ended.
"""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

DOCUMENTS = ["README.md", "examples/INSTALL.md", "docs/reference.md"]
LINUX_FENCES = {"sh", "bash", "console"}
WINDOWS_FENCES = {"bat", "cmd", "powershell", "ps1"}
LINUX_PROGRAMS = {"cmake", "ctest", "python3", "pulsyn-sim", "ln", "echo", "dialogue_bench", "quorval"}
WINDOWS_PROGRAMS = {"cscript", "regsvr32", "setx", "powershell", "pwsh", "dotnet", "pip", "python", "reg"}

# Linux commands the documents show that this check does not run, each with the reason. A
# command is matched by its start.
NOT_RUN = {
    "./scripts/test.sh": "the test command, which runs this check",
    "QUOR_NO_32BIT=1 ./scripts/test.sh": "the test command, which runs this check",
    "ctest --preset native -R docs": "runs this check",
    "./scripts/setup.sh": "installs packages with apt-get",
    "./scripts/release.sh": "builds every target for minutes; the test command's installer step runs it",
    "./scripts/demo.sh": "builds the Windows DLL and runs Wine; docs_demo_sessions runs its Linux sessions",
    "cmake --preset win64": "the Windows build: the test command's win64 step",
    "cmake --build --preset win64": "the Windows build: the test command's win64 step",
    "ctest --preset win64": "the Windows tests under Wine: the test command's win64 step",
    "tests/server/with-sims.sh": "the Windows benchmarks under Wine, after the win64 build",
    "cmake --preset native && cmake --build --preset native --target install-quorlib-user":
        "writes the module into the user's own site-packages",
    "dialogue_bench --memory": "a benchmark of a million dialogues (minutes)",
    "python3 session.py": "a stand-in name for the reader's own script",
    "python3 -m venv": "pip installs: python_quorlib_install runs them in a throwaway venv and home",
    "~/lab-venv/bin/pip": "pip installs: python_quorlib_install runs them in a throwaway venv and home",
    "python3 -m pip install": "pip installs: python_quorlib_install runs them in a throwaway venv and home",
    "python3 -m build": "pip installs: python_quorlib_install runs them in a throwaway venv and home",
    "pip uninstall quorlib": "pip installs: python_quorlib_install runs them in a throwaway venv and home",
}


def is_windows(command):
    first = command.split()[0].strip('"')
    return (first.lower() in WINDOWS_PROGRAMS or first.lower().endswith(".exe") or re.match(r"^[A-Za-z]:\\", first)
            or first.startswith("%"))


def program_of(command):
    """The program a command line starts with, after VAR=value settings; None for no command."""
    words = command.split()
    while words and re.match(r"^[A-Z_][A-Z0-9_]*=", words[0]):
        words = words[1:]
    if not words:
        return None
    first = words[0]
    if first.startswith(("./", "build/", "tests/", "scripts/")) or first in LINUX_PROGRAMS:
        return first
    return None


def commands(text):
    """Yields (kind, command): kind is "linux", "windows" or "unmarked" (a fence without a tag)."""
    for language, block in re.findall(r"^```(\w*)\n(.*?)^```", text, flags=re.S | re.M):
        for line in block.splitlines():
            line = re.sub(r"\s+#\s.*$", "", line).strip()
            if not line or line.startswith("#"):
                continue
            if language in LINUX_FENCES:
                yield "linux", line
            elif language in WINDOWS_FENCES:
                yield "windows", line
            elif not language:
                yield "unmarked", line
    prose = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M).replace("\n", " ")
    for span in re.findall(r"(?<!`)`([^`]+)`(?!`)", prose):
        span = re.sub(r"\s+", " ", span).strip()
        if not (" " in span or span.startswith("./")):
            continue
        if is_windows(span):
            yield "windows", span
        elif program_of(span):
            yield "linux", span


class Run:
    """The place the commands run in: a simulator, scratch folders, the built programs."""

    def __init__(self, source, binary):
        self.source, self.binary = source, binary
        self.scratch = pathlib.Path(tempfile.mkdtemp(prefix="docs-commands-"))
        (self.scratch / "prefix" / "dosdevices").mkdir(parents=True)
        self.sim_program = binary / "tools" / "pulsyn-sim" / "pulsyn-sim"
        self.sim = subprocess.Popen([str(self.sim_program), "--quiet", "--control-file", str(self.scratch / "port")],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        self.line = self.sim.stdout.readline().strip()
        self.port = self.sim.stdout.readline().rsplit(":", 1)[1].strip()
        shutil.copy(source / "examples" / "session_linux.py", self.scratch)
        self.env = {**os.environ, "WINEPREFIX": str(self.scratch / "prefix"), "QUORLIB_COM7": self.line,
                    "PYTHONPATH": os.environ.get("QUOR_QUORLIB_DIR", str(binary / "python")),
                    # python3 is Debian's, as on the reader's machine: the module is built for it.
                    "PATH": os.pathsep.join([str(binary / "tools" / "pulsyn-sim"), str(binary / "tools" / "quorval"),
                                             "/usr/bin", os.environ["PATH"]])}

    def close(self):
        subprocess.run([str(self.sim_program), "--ask", self.port, "quit"], capture_output=True, timeout=60)
        self.sim.wait(timeout=60)
        shutil.rmtree(self.scratch, ignore_errors=True)

    def concrete(self, command):
        # The documents' own words first: the build tree may itself lie under /tmp.
        command = re.sub(r"\bPORT\b", self.port, command).replace("/tmp/", f"{self.scratch}/")
        return command.replace("build/native/", f"{self.binary}/")

    def run(self, command):
        """None when the command did what the documents say, else what went wrong."""
        concrete = self.concrete(command)
        words = shlex.split(concrete)
        cwd = self.scratch if "session_linux.py" in concrete else self.source
        if words[0].endswith("/pulsyn-sim") and "--help" not in words and "--ask" not in words:
            return self.serve(words, cwd)
        result = subprocess.run(concrete, shell=True, cwd=cwd, env=self.env, capture_output=True, text=True,
                                timeout=900, executable="/bin/bash")
        if result.returncode != 0:
            return f"exit status {result.returncode}: {(result.stdout + result.stderr).strip()[-600:]}"
        return None

    def serve(self, words, cwd):
        """A simulator the reader starts: it must print its line and control port."""
        server = subprocess.Popen(words + ["--quiet"], cwd=cwd, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, text=True)
        try:
            line = server.stdout.readline().strip()
            control = server.stdout.readline().strip()
            if not line.startswith("/dev/") or not control.startswith("control 127.0.0.1:"):
                return f"printed {line!r} and {control!r} instead of its line and control port"
            asked = subprocess.run([str(self.sim_program), "--ask", control.rsplit(":", 1)[1], "quit"],
                                   capture_output=True, text=True, timeout=60)
            if asked.returncode != 0 or server.wait(timeout=60) != 0:
                return f"did not end when asked: {asked.stdout}{asked.stderr}"
        finally:
            if server.poll() is None:
                server.kill()
                server.wait()
        return None


def main(source, binary):
    source, binary = pathlib.Path(source).resolve(), pathlib.Path(binary).resolve()
    failures, ran, windows, skipped = [], 0, 0, 0
    run = Run(source, binary)
    try:
        for document in DOCUMENTS:
            for kind, command in dict.fromkeys(commands((source / document).read_text(encoding="utf-8"))):
                if kind == "windows":
                    windows += 1
                elif kind == "unmarked":
                    failures.append(f"{document}: a code block without a language holds `{command}`: tag it "
                                    "sh (Linux, run by this check), bat or powershell (Windows)")
                elif any(command.startswith(prefix) for prefix in NOT_RUN):
                    skipped += 1
                else:
                    ran += 1
                    problem = run.run(command)
                    print(f"{'ok  ' if not problem else 'FAIL'} {document}: {command}")
                    if problem:
                        failures.append(f"{document}: `{command}`: {problem}")
    finally:
        run.close()
    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"{ran} Linux commands run, {skipped} not run (see NOT_RUN), {windows} Windows-only")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))

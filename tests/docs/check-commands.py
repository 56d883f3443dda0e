#!/usr/bin/env python3
"""Every shell command that README.md, examples/INSTALL.md and docs/reference.md show is run
here, on Linux, against the simulator where it needs a device, unless it is marked as a
Windows command or listed in NOT_RUN, whole, with the reason it is not run here. What the
documents say a command prints is compared with what it prints. Every `python` block that uses
quorlib runs too, as a program, unless PYTHON_NOT_RUN lists it with its reason.

    check-commands.py SOURCE_DIR BINARY_DIR [--documents DIR] [--changed-from DIR]

How the documents mark commands:
- A fenced block tagged `sh` holds Linux shell commands, one a line (a "# ..." tail is a
  comment); `bat` and `powershell` blocks are Windows-only; `vbscript`, `python` and other
  tags are program text, not commands.
- An inline code span is a command when it starts with a program (after any VAR=value
  settings): a path (`./scripts/...`, `build/...`, `tests/...`) or a program named in
  documents.py. Spans that start with a Windows program (cscript, regsvr32, setx, powershell,
  dotnet, pip, python, which Linux spells python3, a .exe, a C:\\ path) are Windows-only.

Python blocks: each runs as a program of its own, from the source folder (so
examples/protocol.toml resolves), with quorlib imported first (a block may go on from the one
before it), against two fresh simulators: /dev/ttyACM0 and /dev/ttyACM1 are their lines. It
must exit with status 0, and each simulator whose device it names must have received a frame.
A python block that is neither run (it does not use quorlib) nor listed fails the check.

Placeholders are filled in when a command runs: PORT is the running simulator's control port,
COM7 is its line (through QUORLIB_COM7), /tmp/ and $WINEPREFIX are folders of this run, and
build/native/ is BINARY_DIR. A command fails the check when it exits with another status than
0; a simulator started by a command must print its line and control port, and then is ended.

What a command prints, as the documents show it:
- "`COMMAND` prints `A` and `B`" in prose: COMMAND runs, and A and B must appear in what it
  prints, in that order, each as whole words (not inside a longer word or number).
- The table of the device number form (a header with "sent as"): each value's form is what
  quorval prints for that value.
Only what must differ from run to run may differ: in what a command prints, times of day
(12:34:56, 12:34:56.789) read as <time> and paths under /tmp/ or /dev/pts/ as <path>, and a
document may write <time> and <path> where it shows one. Nothing else is ignored.

--documents reads the documents from another folder (a changed copy); --changed-from runs
only the commands and compares only the outputs that differ from those of the documents in
that folder (the checker's own test changes one thing at a time).
"""
import argparse
import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from documents import DOCUMENTS, FENCE, code_spans, fenced_blocks, is_windows, program_of, prose  # noqa: E402

LINUX_FENCES = {"sh", "bash", "console"}
WINDOWS_FENCES = {"bat", "cmd", "powershell", "ps1"}
PIP = "pip installs: python_quorlib_install runs them in a throwaway venv and home"
TEST_COMMAND = "the test command, which runs this check among everything else"
WINDOWS_BUILD = "the Windows build and its tests under Wine: the test command's win64 step"

# The Linux commands the documents show that this check does not run, each whole, with the
# reason. A command that differs from all of these by as much as a letter is run.
NOT_RUN = {
    "./scripts/test.sh": TEST_COMMAND,
    "./scripts/test.sh native win64": TEST_COMMAND,
    "./scripts/test.sh installer": "makes the release and installs it under Wine (minutes)",
    "QUOR_NO_32BIT=1 ./scripts/test.sh win32": TEST_COMMAND,
    "ctest --preset native -R docs": "runs this check",
    "./scripts/setup.sh": "installs packages with apt-get",
    "./scripts/release.sh": "builds every target for minutes; the test command's installer step runs it",
    "./scripts/demo.sh": "builds the Windows DLL and runs Wine; docs_demo_sessions runs its session",
    "./scripts/demo.sh --native": "builds in build/native; docs_demo_sessions runs its session (pulsyn-demo)",
    "./scripts/demo.sh --python": "builds in build/native; docs_demo_sessions runs its session (session_linux.py)",
    "cmake --preset win64": WINDOWS_BUILD,
    "cmake --build --preset win64": WINDOWS_BUILD,
    "ctest --preset win64": WINDOWS_BUILD,
    "ctest --preset win64 -L clients": WINDOWS_BUILD,
    "tests/server/with-sims.sh build/win64/host/native/tools/pulsyn-sim/pulsyn-sim $PWD/build/win64/wineprefix -- "
    "cmake/wine.sh run $PWD/build/win64/wineprefix /usr/lib/wine/wine64 build/win64/bench/dialogue_bench.exe":
        "the Windows benchmark under Wine, after the win64 build",
    "dialogue_bench --memory 1000000": "a benchmark of a million dialogues (minutes)",
    "python3 -m venv": "names the command only: the block below shows it whole",
    "python3 -m venv ~/lab-venv": PIP,
    "~/lab-venv/bin/pip install .": PIP,
    "~/lab-venv/bin/pip uninstall quorlib": PIP,
    "python3 -m pip install --user --break-system-packages .": PIP,
    "python3 -m pip uninstall --break-system-packages quorlib": PIP,
    "python3 -m build --wheel --no-isolation": PIP,
    "python3 -m pip install --user --break-system-packages quorlib-1.2.0-cp311-cp311-linux_x86_64.whl":
        "installs the release's wheel, which ./scripts/release.sh makes; the install test installs a wheel",
}
# The python blocks this check does not run, each by its first line, with the reason.
PYTHON_NOT_RUN = {
    "# Windows (pywin32, the registered QuorLib.dll)       # Linux (the quorlib module)":
        "two programs side by side in two columns, Windows beside Linux: the text is not one program",
}
DEVICES = ("/dev/ttyACM0", "/dev/ttyACM1")
TIME = re.compile(r"\b\d\d:\d\d:\d\d(\.\d+)?\b")
PATH = re.compile(r"(/tmp|/dev/pts)/\S*")


def commands(text):
    """Yields (kind, command): kind is "linux", "windows" or "unmarked" (a fence without a tag)."""
    for language, block in fenced_blocks(text):
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
    for span in code_spans(text):
        if not (" " in span or span.startswith("./")):
            continue
        if is_windows(span):
            yield "windows", span
        elif program_of(span):
            yield "linux", span


def shown_outputs(text):
    """Yields (command, [what it prints, in order]) for each output the document shows."""
    for command, shown in re.findall(r"`([^`]+)` prints ((?:`[^`]+`(?:,? and |, | or )?)+)", prose(text)):
        if program_of(command) and not is_windows(command):
            yield command, tuple(re.findall(r"`([^`]+)`", shown))
    for table in re.findall(r"^\|[^\n]*sent as[^\n]*\n(?:\|[^\n]*\n)+", text, flags=re.M):
        for row in table.splitlines()[2:]:
            cells = [cell.strip() for cell in row.strip("|").split("|")]
            for value, form in zip(cells[0::3], cells[1::3]):
                yield f"build/native/tools/quorval/quorval {value.split()[0]}", (form.strip("`"),)


def python_blocks(text):
    """Yields (line number of the fence, body) of each python block."""
    for found in FENCE.finditer(text):
        if found.group(1) == "python":
            yield text.count("\n", 0, found.start()) + 1, found.group(2)


def one_line(output):
    return " | ".join(line.strip() for line in output.strip().splitlines())


def normalized(output):
    return PATH.sub("<path>", TIME.sub("<time>", output))


def differs(output, shown):
    """None when each shown text appears in the output, in order and as whole words."""
    output, position = normalized(output), 0
    for text in shown:
        found = re.compile(r"(?<![\w.+-])" + re.escape(text) + r"(?![\w.+-])").search(output, position)
        if not found:
            return f"printed {output.strip()[-600:]!r}, where the document shows {text!r}"
        position = found.end()
    return None


def simulator(program, *options):
    """A running simulator, its line and its control port."""
    sim = subprocess.Popen([str(program), "--quiet", *options], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           text=True)
    line = sim.stdout.readline().strip()
    return sim, line, sim.stdout.readline().rsplit(":", 1)[1].strip()


def end(program, sim, port):
    subprocess.run([str(program), "--ask", port, "quit"], capture_output=True, timeout=60)
    try:
        sim.wait(timeout=60)
    finally:
        if sim.poll() is None:
            sim.kill()
            sim.wait()


class Run:
    """The place the commands run in: a simulator, scratch folders, the built programs."""

    def __init__(self, source, binary):
        self.source, self.binary = source, binary
        self.scratch = pathlib.Path(tempfile.mkdtemp(prefix="docs-commands-"))
        (self.scratch / "prefix" / "dosdevices").mkdir(parents=True)
        self.sim_program = binary / "tools" / "pulsyn-sim" / "pulsyn-sim"
        self.sim, self.line, self.port = simulator(self.sim_program, "--control-file", str(self.scratch / "port"))
        shutil.copy(source / "examples" / "session_linux.py", self.scratch)
        self.env = {**os.environ, "WINEPREFIX": str(self.scratch / "prefix"), "QUORLIB_COM7": self.line,
                    "PYTHONPATH": os.environ.get("QUOR_QUORLIB_DIR", str(binary / "python")),
                    # python3 is Debian's, as on the reader's machine: the module is built for it.
                    "PATH": os.pathsep.join([str(binary / "tools" / "pulsyn-sim"), str(binary / "tools" / "quorval"),
                                             "/usr/bin", os.environ["PATH"]])}

    def close(self):
        end(self.sim_program, self.sim, self.port)
        shutil.rmtree(self.scratch, ignore_errors=True)

    def concrete(self, command):
        # The documents' own words first: the build tree may itself lie under /tmp.
        command = re.sub(r"\bPORT\b", self.port, command).replace("/tmp/", f"{self.scratch}/")
        return command.replace("build/native/", f"{self.binary}/")

    def run(self, command, shown=()):
        """None when the command did what the documents say (and printed what they show), else
        what went wrong."""
        concrete = self.concrete(command)
        words = shlex.split(concrete)
        cwd = self.scratch if "session_linux.py" in concrete else self.source
        if words[0].endswith("/pulsyn-sim") and "--help" not in words and "--ask" not in words:
            return self.serve(words, cwd)
        result = subprocess.run(concrete, shell=True, cwd=cwd, env=self.env, capture_output=True, text=True,
                                timeout=900, executable="/bin/bash")
        if result.returncode != 0:
            return f"exit status {result.returncode}: {(result.stdout + result.stderr).strip()[-600:]}"
        return differs(result.stdout, shown)

    def run_python(self, body):
        """None when the block ran to status 0 and each device it names received a frame."""
        sims = [simulator(self.sim_program) for _ in DEVICES]
        try:
            text = body
            for device, (_, line, _) in zip(DEVICES, sims):
                text = text.replace(device, line)
            program = self.scratch / "block.py"
            # On the block's first line, so that a traceback's line n is the block's line n.
            program.write_text("import quorlib; " + text, encoding="utf-8")
            result = subprocess.run([sys.executable, str(program)], cwd=self.source, env=self.env,
                                    capture_output=True, text=True, timeout=300)
            if result.returncode != 0:
                return f"exit status {result.returncode}: {one_line(result.stdout + result.stderr)[-800:]}"
            for device, (_, _, port) in zip(DEVICES, sims):
                asked = subprocess.run([str(self.sim_program), "--ask", port, "frames"], capture_output=True,
                                       text=True, timeout=60)
                if device in body and (asked.returncode != 0 or not json.loads(asked.stdout).get("frames")):
                    return f"the simulator on {device} received no frame: {one_line(asked.stdout + asked.stderr)}"
        finally:
            for sim, _, port in sims:
                end(self.sim_program, sim, port)
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


def checks(documents_dir):
    """(document, command, shown outputs) of every Linux command to run, and the problems and
    counts of the others."""
    runs, problems, counts = [], [], {"windows": 0, "not run": 0}
    for document in DOCUMENTS:
        text = (documents_dir / document).read_text(encoding="utf-8")
        for kind, command in dict.fromkeys(commands(text)):
            if kind == "windows":
                counts["windows"] += 1
            elif kind == "unmarked":
                problems.append(f"{document}: a code block without a language holds `{command}`: tag it "
                                "sh (Linux, run by this check), bat or powershell (Windows)")
            elif command in NOT_RUN:
                counts["not run"] += 1
            else:
                runs.append((document, command, ()))
        outputs = list(dict.fromkeys(shown_outputs(text)))
        shown_for = {command for command, _ in outputs}
        runs = [item for item in runs if item[1] not in shown_for] + [(document, *output) for output in outputs]
    return runs, problems, counts


def python_checks(documents_dir):
    """(document, line, body) of every python block to run, and the problems and count of the others."""
    runs, problems, not_run = [], [], 0
    for document in DOCUMENTS:
        for line, body in python_blocks((documents_dir / document).read_text(encoding="utf-8")):
            if body.splitlines()[0].strip() in PYTHON_NOT_RUN or body in PYTHON_NOT_RUN:
                not_run += 1
            elif re.search(r"\bquorlib\b", body):
                runs.append((document, line, body))
            else:
                problems.append(f"{document} line {line}: a python block that does not use quorlib: "
                                "list it in PYTHON_NOT_RUN with the reason")
    return runs, problems, not_run


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("source", type=pathlib.Path)
    parser.add_argument("binary", type=pathlib.Path)
    parser.add_argument("--documents", type=pathlib.Path)
    parser.add_argument("--changed-from", type=pathlib.Path)
    args = parser.parse_args(argv)
    source, binary = args.source.resolve(), args.binary.resolve()
    runs, failures, counts = checks(args.documents or source)
    python_runs, python_problems, python_not_run = python_checks(args.documents or source)
    failures += python_problems
    if args.changed_from:
        unchanged = {(command, shown) for _, command, shown in checks(args.changed_from)[0]}
        runs = [item for item in runs if item[1:] not in unchanged]
        unchanged_blocks = {body for _, _, body in python_checks(args.changed_from)[0]}
        python_runs = [item for item in python_runs if item[2] not in unchanged_blocks]
    run = Run(source, binary)
    try:
        for document, command, shown in runs:
            problem = run.run(command, shown)
            print(f"{'ok  ' if not problem else 'FAIL'} {document}: {command}" + (f" prints {shown}" if shown else ""))
            if problem:
                failures.append(f"{document}: `{command}`: {problem}")
        for document, line, body in python_runs:
            problem = run.run_python(body)
            print(f"{'ok  ' if not problem else 'FAIL'} {document} line {line}: python block")
            if problem:
                failures.append(f"{document} line {line}: python block: {problem}")
    finally:
        run.close()
    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"{len(runs)} Linux commands and outputs checked, {counts['not run']} not run (see NOT_RUN),"
          f" {counts['windows']} Windows-only; {len(python_runs)} python blocks run, {python_not_run} not run"
          " (see PYTHON_NOT_RUN)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

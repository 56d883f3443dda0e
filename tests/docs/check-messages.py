#!/usr/bin/env python3
"""Every message that docs/reference.md quotes is produced by some test: each is looked for in
the tests tree, and the check fails on any that no test contains.

    check-messages.py SOURCE_DIR

A message is a code span of the reference with at least four words that is not a call
(VBScript such as `p.ShowMonitor`, `SetChannelDelay 1, 0.025`) and not a command. A
placeholder such as <n>, <value> or <full name> (and an example port, COM7) stands for any text: each literal piece
between placeholders must appear, in order, in one test file. In C++ tests a message is
often split over adjacent string literals; those are joined before the search.
"""
import pathlib
import re
import sys

# Quoted by the reference but produced by no test here, each with the reason.
NOT_PRODUCED_BY_A_TEST = {
    # Only a file system that fails part-way through a write (a full disk, a pulled USB
    # stick) gives it; the tests' file systems do not fail on demand.
    "Failed to Save Stream",
    # Only a session without a desktop (a service) gives it; the Windows tests run on a
    # virtual display, where the window is always made.
    "The monitor window is not available: <reason>.",
    # Another program holding the port: Windows refuses a second opener, while Wine and a
    # Linux pseudo-terminal let both open it, so no test here can hold a port.
    "Error accessing specified device (Error: 5) ",
    # The code is the system's (1460 on Windows, 110 on Linux): tests/monitor/LinkWriteTest.cpp
    # checks the whole message with the code of the platform it runs on.
    "Write error: the stimulator's port did not take the command within 1000 ms (Error: 1460) ",
    # The system refusing an event object or a thread: no test can arrange that without
    # starving the test process itself (the descriptor limit is tested through the event watch).
    "... transfer event ...",
    "Error starting the port's event thread: ...",
}

CODE_SPAN = re.compile(r"(?<!`)`([^`]+)`(?!`)")
# <n>, <value>, <full name>, "...", and a port named as an example (COM7) stand for any text.
PLACEHOLDER = re.compile(r"<[^<>]*[a-z][^<>]*>|\.\.\.|\bCOM\d+\b")
CALL = re.compile(r"^(p\.|Set |ok = |If |cscript |setx |python3 |[A-Z][A-Za-z]+ -?\d|[A-Z][A-Za-z]+\(|[A-Z][A-Za-z]+ = )")


def messages(reference):
    text = re.sub(r"```.*?```", "", reference, flags=re.S)
    # A span may run over a line break in the Markdown source.
    for span in CODE_SPAN.findall(text.replace("\n", " ")):
        span = re.sub(r"\s+", " ", span)
        if len(span.split()) < 4 or CALL.match(span):
            continue
        yield span


def tests_text(source):
    joined = {}
    for path in (source / "tests").rglob("*"):
        if path.suffix not in {".cpp", ".h", ".py", ".sh", ".vbs", ".js", ".txt", ".cmake"} or not path.is_file():
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        # "...cannot take "  "exactly..." in C++ and Python: adjacent literals are one string.
        text = re.sub(r"\"\s*\n\s*(?:R\")?\"?", "", text) if path.suffix in {".cpp", ".h"} else text
        text = re.sub(r"\"\s*\n\s*f?\"", "", text) if path.suffix == ".py" else text
        # Escapes of string literals and regular expressions: \" and \( read as " and (.
        # (Shell scripts quote messages in single quotes, where a backslash is itself.)
        joined[path] = re.sub(r"\\([^A-Za-z0-9])", r"\1", text) if path.suffix != ".sh" else text
    return joined


def produced(message, files):
    pieces = [p.strip() for p in PLACEHOLDER.split(message)]
    pieces = [p for p in pieces if len(p) >= 6]
    if not pieces:
        return True
    # A number (a limit of 1000 ms) may be another in a test (200 ms, to stay fast).
    pattern = re.compile(".*?".join(re.sub(r"\\d+|\d+", r"\\d+", re.escape(p)) for p in pieces), re.S)
    return any(pattern.search(text) for text in files.values())


def main(source):
    source = pathlib.Path(source)
    files = tests_text(source)
    missing = [m for m in dict.fromkeys(messages((source / "docs" / "reference.md").read_text()))
               if m not in NOT_PRODUCED_BY_A_TEST and not produced(m, files)]
    for m in missing:
        print(f"FAIL: no test produces the message the reference quotes: {m}")
    checked = len(list(dict.fromkeys(messages((source / "docs" / "reference.md").read_text()))))
    print(f"{checked} quoted messages, {checked - len(missing)} found in the tests")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2]))

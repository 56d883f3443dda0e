"""The docs checks catch a wrong document: each case changes one thing in a copy of a document
(a number, an option, a word of a message, a shown output, a member's name in a Python example) and expects its checker to fail,
naming what changed. The commands checker runs only what the change touched. The messages
checker reads the tests once: each changed document goes through its problems() in this process,
and the first one through the whole program, so that its exit status and report are checked too."""
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

HERE = pathlib.Path(__file__).parent
SOURCE = pathlib.Path(os.environ.get("QUOR_SOURCE_DIR", HERE.parents[1]))
DOCUMENTS = ["README.md", "examples/INSTALL.md", "docs/reference.md"]

MESSAGES, COMMANDS = "check-messages.py", "check-commands.py"
BREAKS = [
    # document, text (found once), changed to, checker
    ("README.md", "--help` shows without installing", "--hepl` shows without installing", COMMANDS),
    ("README.md", "`./scripts/demo.sh --native` runs", "`./scripts/demo.sh --nativ` runs", COMMANDS),
    ("README.md", "prints `+400.0E-6`", "prints `+400.0E-5`", COMMANDS),
    ("README.md", "p.change_channel_mode(1, quorlib", "p.change_chanel_mode(1, quorlib", COMMANDS),
    ("README.md", "newest entries within 16777216", "newest entries within 16777215", MESSAGES),
    ("README.md", '"Cannot change the', '"Cannot change a', MESSAGES),
    ("docs/reference.md", "ConnectChannel cant Connect", "ConnectChannel cannot connect", MESSAGES),
    ("docs/reference.md", "Checks: `ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.`",
     "Checks: `ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 8.`", MESSAGES),
    ("docs/reference.md", "| 0 to 3999 | `Range Error: Delay Value must be between 0 and 3999s.`",
     "| 0 to 4999 | `Range Error: Delay Value must be between 0 and 4999s.`", MESSAGES),
    ("docs/reference.md", "| 0.025 | `+25.00E-3` |", "| 0.025 | `+25.00E-2` |", COMMANDS),
    ("docs/reference.md", "`python3 -m quorlib ports`", "`python3 -m quorlib port`", COMMANDS),
    ("examples/INSTALL.md", "| `ChannelMode Error: Wrong Mode Parameter.` |",
     "| `ChannelMode Error: Wrong Mode Argument.` |", MESSAGES),
    ("examples/INSTALL.md", "Interval Value must be between 40us", "Interval Value must be between 50us", MESSAGES),
    ("examples/INSTALL.md", 'QUORLIB_PORT is "7"', 'QUORLIB_PORT is "8"', MESSAGES),
]


@pytest.fixture(scope="module")
def messages_checker():
    spec = importlib.util.spec_from_file_location("check_messages", HERE / MESSAGES)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module, module.tests_text(SOURCE)


def run_checker(checker, documents):
    """The FAIL lines of the checker's whole program on the documents in that folder."""
    arguments = [str(SOURCE), "--documents", str(documents)]
    if checker == COMMANDS:
        arguments = [str(SOURCE), os.environ["QUOR_BINARY_DIR"], "--documents", str(documents),
                     "--changed-from", str(SOURCE)]
    result = subprocess.run([sys.executable, str(HERE / checker), *arguments], capture_output=True, text=True,
                            timeout=300)
    failures = [line for line in result.stdout.splitlines() if line.startswith("FAIL")]
    assert result.returncode == 1 and failures, result.stdout + result.stderr
    return failures


FIRST_MESSAGES_BREAK = next(b for b in BREAKS if b[3] == MESSAGES)


@pytest.mark.parametrize("document, text, changed, checker", BREAKS, ids=[f"{b[0]}: {b[2]}" for b in BREAKS])
def test_a_changed_document_fails_its_check(tmp_path, messages_checker, document, text, changed, checker):
    for name in DOCUMENTS:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(SOURCE / name, tmp_path / name)
    original = (tmp_path / document).read_text(encoding="utf-8")
    assert original.count(text) == 1, f"{document} should hold {text!r} once"
    (tmp_path / document).write_text(original.replace(text, changed), encoding="utf-8")
    if checker == COMMANDS or (document, text, changed, checker) == FIRST_MESSAGES_BREAK:
        failures = run_checker(checker, tmp_path)
    else:
        module, tests = messages_checker
        failures = list(module.problems(tmp_path, tests))
        assert failures, "the messages checker found nothing wrong"
    changed_words = set(changed.split()) - set(text.split())
    assert any(word.strip("`|.\"") in line for line in failures for word in changed_words), failures

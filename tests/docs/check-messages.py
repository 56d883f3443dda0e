#!/usr/bin/env python3
"""Every message that README.md, examples/INSTALL.md and docs/reference.md quote is one the
library is made to produce in a named test, which compares the whole text.

    check-messages.py SOURCE_DIR [--documents DIR]

A quoted message is a code span or a double-quoted text of at least four words that is no
command, no call (VBScript such as `p.ShowMonitor`, `SetChannelDelay 1, 0.025`) and none of
NOT_MESSAGES. Each must be a key of quoted_messages.PRODUCED_BY, whose value names the test
file that drives the library to it and compares it, or of quoted_messages.NOT_PRODUCED with
the reason. The named test file must hold the message whole: every word, number and mark as
the document quotes it. Only a placeholder stands for other text: <n>, <value>, <full name>
and "..." (the document leaves the rest out), each at most 300 characters. In C++ and Python tests a
message is often split over adjacent string literals; those are joined before the search, and
escapes (\\" in a literal, \\( in a pattern) are read as the character they escape.

--documents reads the documents from another folder (a changed copy) and the tests from
SOURCE_DIR.
"""
import argparse
import pathlib
import re
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from documents import DOCUMENTS, code_spans, is_windows, program_of, quoted_texts  # noqa: E402
from quoted_messages import NOT_MESSAGES, NOT_PRODUCED, PRODUCED_BY  # noqa: E402

CALL = re.compile(r"^(p\.|Set |ok = |If |On Error |with |try |sudo |wine |-|\"[A-Z]:\\|"
                  r"[A-Z][A-Za-z]+ -?\d|[A-Z][A-Za-z]+\(|[A-Z][A-Za-z]+ = )")
PLACEHOLDER = re.compile(r"(<[^<>]*[a-z][^<>]*>|\.\.\.)")


def messages(text):
    for quote in code_spans(text) + quoted_texts(text):
        if (len(quote.split()) >= 4 and not CALL.match(quote) and not is_windows(quote)
                and not program_of(quote) and "/" not in quote.split()[0] and quote not in NOT_MESSAGES):
            yield quote


def tests_text(source):
    """Each test file's text, string literals joined and escapes read."""
    joined = {}
    for path in (source / "tests").rglob("*"):
        if path.suffix not in {".cpp", ".h", ".py", ".sh", ".vbs", ".js", ".txt", ".cmake"} or not path.is_file():
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        if path.suffix in {".cpp", ".h"}:
            text = re.sub(r"\"\s*\n\s*(?:R\")?\"?", "", text)
        elif path.suffix == ".py":
            text = re.sub(r"\"\s*\n\s*f?\"", "", text)
        # In shell scripts a backslash is itself within single quotes: only \" is read there.
        escape = r'\\(")' if path.suffix == ".sh" else r"\\([^A-Za-z0-9])"
        joined[path.relative_to(source).as_posix()] = re.sub(escape, r"\1", text)
    return joined


def pattern(message):
    """The message as a pattern: its own text exactly (a blank matching any blanks and line
    breaks, as a test wraps its lines), each placeholder at most 300 characters of other text."""
    parts = []
    for piece in PLACEHOLDER.split(message.strip()):
        if piece == "...":
            parts.append(r"[\s\S]{0,300}?")
        elif PLACEHOLDER.fullmatch(piece):
            parts.append(r"[\s\S]{1,300}?")
        elif piece.strip():
            parts.append(r"\s+".join(re.escape(word) for word in piece.split()))
    return re.compile(r"\s*".join(parts))


def problems(documents_dir, files):
    quoted = {}
    for document in DOCUMENTS:
        for message in messages((documents_dir / document).read_text(encoding="utf-8")):
            quoted.setdefault(message, document)
    for message, document in quoted.items():
        if message in NOT_PRODUCED:
            continue
        test, as_tested = PRODUCED_BY.get(message), message
        if isinstance(test, tuple):
            test, replacements = test
            for document_text, test_text in replacements.items():
                if document_text not in as_tested:
                    yield f"{document} quotes {message!r} without {document_text!r}, which quoted_messages.py expects"
                as_tested = as_tested.replace(document_text, test_text)
        if test is None:
            found = [name for name, text in files.items() if pattern(message).search(text)]
            hint = f"; it is found in {', '.join(found)}" if found else "; no test holds it"
            yield (f"{document} quotes a message that quoted_messages.py does not map to the test producing it:"
                   f" {message!r}{hint}")
        elif test not in files:
            yield f"{document}: {message!r} is mapped to {test}, which is no test file"
        elif not pattern(as_tested).search(files[test]):
            yield f"{document} quotes a message that {test} does not produce as written: {message!r}"
    for message in set(PRODUCED_BY) | set(NOT_PRODUCED):
        if message not in quoted:
            yield f"quoted_messages.py lists a message no document quotes (remove it): {message!r}"


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("source", type=pathlib.Path)
    parser.add_argument("--documents", type=pathlib.Path)
    args = parser.parse_args(argv)
    found = list(problems(args.documents or args.source, tests_text(args.source)))
    for problem in found:
        print(f"FAIL: {problem}")
    print(f"{len(PRODUCED_BY)} quoted messages produced by tests, {len(NOT_PRODUCED)} not (with the reason),"
          f" {len(found)} problems")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

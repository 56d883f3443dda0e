"""What the docs checks read from the documents: their code blocks, code spans and quoted texts."""
import re

DOCUMENTS = ["README.md", "examples/INSTALL.md", "docs/reference.md"]
FENCE = re.compile(r"^```(\w*)\n(.*?)^```", flags=re.S | re.M)
CODE_SPAN = re.compile(r"(?<!`)`([^`]+)`(?!`)")
LINUX_PROGRAMS = {"cmake", "ctest", "python3", "pulsyn-sim", "ln", "echo", "dialogue_bench", "quorval"}
WINDOWS_PROGRAMS = {"cscript", "regsvr32", "setx", "powershell", "pwsh", "dotnet", "pip", "python", "reg", "msiexec"}


def fenced_blocks(text):
    """(language, body) of each fenced code block."""
    return FENCE.findall(text)


def prose(text):
    """The text outside fenced blocks on one line: a span may run over a line break."""
    return re.sub(r"^```.*?^```", "", text, flags=re.S | re.M).replace("\n", " ")


def code_spans(text):
    return [re.sub(r"\s+", " ", span).strip() for span in CODE_SPAN.findall(prose(text))]


def quoted_texts(text):
    """Texts in double quotes outside code spans, as prose quotes a message."""
    return [re.sub(r"\s+", " ", quote).strip() for quote in re.findall(r'"([^"]+)"', CODE_SPAN.sub(" ", prose(text)))]


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

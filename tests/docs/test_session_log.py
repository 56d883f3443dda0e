"""scripts/session-log.py on logs as the two writers save them: the native build's own writer
(red first in the colour table) and Windows' RichEdit control, which lists colours in the
order of first use, so that a log beginning with a received entry has green first."""
import os
import pathlib
import subprocess
import sys

SCRIPT = pathlib.Path(os.environ.get("QUOR_SOURCE_DIR", pathlib.Path(__file__).parents[2])) / "scripts" / "session-log.py"

NATIVE = (rb"{\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl{\f0\fswiss\fcharset0 MS Sans Serif;}}" b"\n"
          rb"{\colortbl ;\red255\green0\blue0;\red0\green128\blue0;}" b"\n"
          rb"\viewkind4\uc1\pard\f0\fs16\cf0 " b"\n"
          rb"\cf1 10:00:00:001:.....=" b"\n"
          rb"\cf1 \par 10:00:00:002:.....>0003Y2R" b"\n"
          rb"\cf2 \par 10:00:00:003:.....=<0003OK." b"\n"
          rb"\cf0" b"\n}\n")

# A stray reply arrived before the first command: the saved table starts with green.
RICHEDIT = (rb"{\rtf1\ansi\ansicpg1252\deff0\nouicompat\deflang1033{\fonttbl{\f0\fnil\fcharset0 MS Sans Serif;}}" b"\r\n"
            rb"{\colortbl ;\red0\green128\blue0;\red255\green0\blue0;}" b"\r\n"
            rb"\viewkind4\uc1\pard\cf1\f0\fs16 09:59:59:900:.....<0003OK.\par" b"\r\n"
            rb"\cf2 10:00:00:001:.....=\par" b"\r\n"
            rb"10:00:00:002:.....>0005L1+25.00E-3R\par" b"\r\n"
            rb"\cf1 10:00:00:010:.....=<0003ER:\'e9\par" b"\r\n"
            rb"}" b"\r\n")


def run(*arguments):
    return subprocess.run([sys.executable, str(SCRIPT), *arguments], capture_output=True, text=True)


def test_directions_follow_the_colours_not_their_places_in_the_table(tmp_path):
    for name, document, expected in [
        ("native.rtf", NATIVE, ["10:00:00:001  -> =", "10:00:00:002  -> >0003Y2R", "10:00:00:003  <- =<0003OK."]),
        ("richedit.rtf", RICHEDIT, ["09:59:59:900  <- <0003OK.", "10:00:00:001  -> =",
                                    "10:00:00:002  -> >0005L1+25.00E-3R", "10:00:00:010  <- =<0003ER:\u00e9"]),
    ]:
        path = tmp_path / name
        path.write_bytes(document)
        result = run(str(path))
        assert result.returncode == 0, result.stderr
        assert [line.strip() for line in result.stdout.splitlines()] == expected, name


def test_by_command_groups_replies_under_their_command(tmp_path):
    path = tmp_path / "richedit.rtf"
    path.write_bytes(RICHEDIT)
    lines = [line.split() for line in run("--by-command", str(path)).stdout.splitlines()]
    # The reply that came before any command has a line of its own, with nothing sent.
    assert lines == [["09:59:59:900", "->", "<-", "<0003OK."],
                     ["10:00:00:001", "->", "=>0005L1+25.00E-3R", "<-", "=<0003ER:\u00e9"]]


def test_help_and_bad_arguments_answer_without_a_traceback(tmp_path):
    help_text = run("--help")
    assert help_text.returncode == 0 and "--by-command" in help_text.stdout and not help_text.stderr
    for arguments, expected in [((), "required"), ((str(tmp_path / "missing.rtf"),), "cannot read"),
                                ((str(SCRIPT),), "not a Rich Text Format document")]:
        result = run(*arguments)
        assert result.returncode != 0, arguments
        assert "Traceback" not in result.stderr and expected in result.stderr, result.stderr

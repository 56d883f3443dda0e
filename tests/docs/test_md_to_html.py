"""scripts/lib/md-to-html.py, which makes the release's HTML pages: links between the pages
lead to the pages, headings get the anchors the Markdown links use, and a link that leads
nowhere fails the release instead of shipping."""
import os
import pathlib
import subprocess
import sys

SCRIPT = pathlib.Path(os.environ.get("QUOR_SOURCE_DIR", pathlib.Path(__file__).parents[2])) / "scripts" / "lib" / "md-to-html.py"


def release(tmp_path, guide_link):
    (tmp_path / "docs").mkdir()
    (tmp_path / "examples").mkdir()
    (tmp_path / "examples" / "session.vbs").write_text("' a session\n")
    (tmp_path / "INSTALL.md").write_text("# Installing\n\nSee [the reference](docs/reference.md#the-members-of-ipulsyn) "
                                         "and [the session](examples/session.vbs).\n\n"
                                         "## 4. How QuorLib finds the stimulator\n\n| a | b |\n|---|---|\n| 1 | 2 |\n")
    (tmp_path / "docs" / "reference.md").write_text(f"# Reference\n\n[guide]({guide_link})\n\n"
                                                    "## The members of IPulsyn\n\n```vbscript\np.Connect\n```\n")
    return subprocess.run([sys.executable, str(SCRIPT), str(tmp_path), "INSTALL.md", "docs/reference.md"],
                          capture_output=True, text=True)


def test_pages_link_to_pages_and_headings(tmp_path):
    result = release(tmp_path, "../INSTALL.md#4-how-quorlib-finds-the-stimulator")
    assert result.returncode == 0, result.stderr
    guide = (tmp_path / "INSTALL.html").read_text()
    reference = (tmp_path / "docs" / "reference.html").read_text()
    assert 'href="docs/reference.html#the-members-of-ipulsyn"' in guide
    assert 'href="examples/session.vbs"' in guide  # not a converted page: left as it is
    assert 'id="4-how-quorlib-finds-the-stimulator"' in guide and "<table>" in guide
    assert 'href="../INSTALL.html#4-how-quorlib-finds-the-stimulator"' in reference
    assert "<title>Reference</title>" in reference and '<meta charset="utf-8">' in reference


def test_a_link_that_leads_nowhere_fails(tmp_path):
    for link, why in [("../INSTALL.md#4-how-quorlib-finds-the-device", "no such heading"),
                      ("../MISSING.md", "no such file")]:
        folder = tmp_path / why.replace(" ", "-")
        folder.mkdir()
        result = release(folder, link)
        assert result.returncode != 0 and why in result.stderr, result.stderr

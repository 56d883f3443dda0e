#!/usr/bin/python3
"""Turns the release's Markdown documents into HTML pages for Windows users, and checks that
every link between them works.

    md-to-html.py RELEASE_FOLDER FILE.md...

Each FILE.md (relative to RELEASE_FOLDER) becomes FILE.html beside it: tables, code blocks and
heading anchors as GitHub shows them, links to a converted document pointed at its HTML page.
Then every relative link of every page must name a file of the release, and an anchor must be
a heading of that page; the script fails, naming the broken links, otherwise.

Needs Debian's python3-markdown (scripts/setup.sh installs it).
"""
import html
import pathlib
import re
import sys

import markdown

PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{title}</title>
<style>
body {{ font-family: "Segoe UI", Arial, sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em;
       line-height: 1.45; color: #1b1b1b; }}
code, pre {{ font-family: Consolas, "Courier New", monospace; background: #f3f3f3; }}
pre {{ padding: 0.6em; overflow-x: auto; }}
table {{ border-collapse: collapse; margin: 1em 0; }}
th, td {{ border: 1px solid #c8c8c8; padding: 0.3em 0.6em; vertical-align: top; text-align: left; }}
th {{ background: #eeeeee; }}
</style>
</head>
<body>
{body}
</body>
</html>
"""

LINK = re.compile(r'(href|src)="([^"]*)"')


def convert(release, names):
    converted = {(release / n).resolve() for n in names}

    def retarget(page, match):
        attribute, target = match.groups()
        path, hash_, anchor = target.partition("#")
        if path and not re.match(r"^[a-z]+:", path) and path.endswith(".md"):
            if (page.parent / path).resolve() in converted:
                path = path[:-3] + ".html"
        return f'{attribute}="{path}{hash_}{anchor}"'

    for name in names:
        source = release / name
        text = source.read_text(encoding="utf-8")
        body = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"], output_format="html")
        body = LINK.sub(lambda m: retarget(source, m), body)
        title = re.search(r"^# (.+)$", text, re.M)
        page = PAGE.format(title=html.escape(title.group(1) if title else source.stem), body=body)
        source.with_suffix(".html").write_text(page, encoding="utf-8")


def broken_links(release, names):
    broken = []
    for name in names:
        page = (release / name).with_suffix(".html")
        text = page.read_text(encoding="utf-8")
        for _, target in LINK.findall(text):
            path, _, anchor = html.unescape(target).partition("#")
            if re.match(r"^[a-z]+:", path):
                continue  # a web address
            file = (page.parent / path).resolve() if path else page.resolve()
            if not file.is_file() or release.resolve() not in file.parents:
                broken.append(f"{page.relative_to(release)}: {target} (no such file in the release)")
            elif anchor and file.suffix == ".html" and f'id="{anchor}"' not in file.read_text(encoding="utf-8"):
                broken.append(f"{page.relative_to(release)}: {target} (no such heading)")
    return broken


def main(release, *names):
    release = pathlib.Path(release)
    convert(release, names)
    broken = broken_links(release, names)
    for link in broken:
        print(f"md-to-html: broken link in {link}", file=sys.stderr)
    return 1 if broken else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))

#!/usr/bin/env python3
"""Prints a traffic log saved by SaveSessionCommands (Rich Text Format) as plain text.

One line per entry: its time, "->" for bytes sent to the stimulator (red in the log), "<-"
for bytes received from it (green), and the bytes themselves. With --by-command, one line per
command instead: the time it went out, all bytes sent and all bytes received until the next
command, each run together as on the wire.
"""
import argparse
import re
import sys

TOKEN = re.compile(rb"\\([a-z]+)(-?\d+)? ?|\\'([0-9a-fA-F]{2})|\\(.)|([{}])|(\r?\n)|([^\\{}\r\n]+)", re.S)

SENT, RECEIVED = "->", "<-"


def direction(red, green, blue):
    """Sent or received by the colour itself. The table's order is the writer's choice: a log
    saved by the Windows control lists the colours in the order of first use, so a log that
    begins with a received entry has green first."""
    if red > green and red > blue:
        return SENT
    if green > red and green > blue:
        return RECEIVED
    return None


def entries(rtf):
    """Yields (direction or None, text) for each line of the document's text."""
    depth, skip_below = 0, None
    colour, line, line_colour = 0, [], None
    fallback = 0  # characters after a \u that stand in for it in older readers
    table, table_depth, current = [], None, {}  # the colour table: [(r, g, b) or None, ...]

    def emit(text):
        nonlocal line_colour, fallback
        if skip_below is not None:
            return
        if fallback:
            fallback -= 1
            return
        if line_colour is None:
            line_colour = colour
        line.append(text)

    def meaning(index):
        if index is None or index >= len(table) or table[index] is None:
            return None
        return direction(*table[index])

    for word, number, hex_byte, escaped, brace, newline, text in TOKEN.findall(rtf):
        if table_depth is not None:
            # Inside the colour table: "\redR\greenG\blueB;" per colour, ";" alone for the
            # automatic one.
            if brace == b"}" and depth <= table_depth:
                table_depth = None
                depth -= 1
            elif word in (b"red", b"green", b"blue"):
                current[word] = int(number or 0)
            elif text:
                for _ in range(text.count(b";")):
                    table.append((current.get(b"red", 0), current.get(b"green", 0), current.get(b"blue", 0))
                                 if current else None)
                    current = {}
            continue
        if brace == b"{":
            depth += 1
        elif brace == b"}":
            if skip_below is not None and depth <= skip_below:
                skip_below = None
            depth -= 1
        elif word:
            if skip_below is not None:
                continue
            if word == b"colortbl":
                table_depth = depth
            elif word in (b"fonttbl", b"stylesheet", b"info"):
                skip_below = depth
            elif word == b"cf":
                colour = int(number or 0)
            elif word == b"par":
                yield meaning(line_colour), "".join(line)
                line, line_colour = [], None
            elif word == b"u":
                emit(chr(int(number) % 65536))
                fallback = 1
        elif escaped:
            if escaped == b"*":
                skip_below = depth
            elif escaped in b"\\{}":
                emit(escaped.decode())
        elif hex_byte:
            emit(bytes([int(hex_byte, 16)]).decode("cp1252", "replace"))
        elif text:
            for character in text.decode("cp1252", "replace"):
                emit(character)
    if line:
        yield meaning(line_colour), "".join(line)


def main(arguments):
    parser = argparse.ArgumentParser(
        prog="session-log.py", description=__doc__.split("\n\n")[0],
        epilog="Example: session-log.py --by-command pulsyn-session.rtf")
    parser.add_argument("--by-command", action="store_true",
                        help="one line per command: the bytes sent and the bytes received until the next")
    parser.add_argument("file", metavar="FILE.rtf", help="a log saved by SaveSessionCommands")
    options = parser.parse_args(arguments)
    try:
        with open(options.file, "rb") as f:
            document = f.read()
    except OSError as e:
        parser.exit(1, f"session-log.py: cannot read {options.file}: {e.strerror}\n")
    if not document.lstrip().startswith(b"{\\rtf"):
        parser.exit(1, f"session-log.py: {options.file} is not a Rich Text Format document\n")
    lines = []
    for marker, text in entries(document):
        if not text.strip(" \0"):
            continue
        stamp, _, data = text.partition(":.....")
        if not options.by_command:
            print(f"  {stamp}  {marker or '  '} {data}")
        elif marker is None:
            print(f"  {text}")  # a note of the log's own, such as trimmed older entries
        elif marker == SENT and data == "=" or not lines:
            # The prompt byte goes out ahead of every command: a new command starts.
            lines.append([stamp, "", ""])
            lines[-1][1 if marker == SENT else 2] += data
        else:
            lines[-1][1 if marker == SENT else 2] += data
    for stamp, sent, received in lines:
        print(f"  {stamp}  -> {sent:<22} <- {received}")


if __name__ == "__main__":
    main(sys.argv[1:])

#!/usr/bin/env python3
"""Prints a traffic log saved by SaveSessionCommands (Rich Text Format) as plain text.

    session-log.py [--by-command] FILE.rtf

One line per entry: its time, "->" for bytes sent to the stimulator (red in the log), "<-"
for bytes received from it (green), and the bytes themselves. With --by-command, one line per
command instead: the time it went out, all bytes sent and all bytes received until the next
command, each run together as on the wire.
"""
import re
import sys

TOKEN = re.compile(rb"\\([a-z]+)(-?\d+)? ?|\\'([0-9a-fA-F]{2})|\\(.)|([{}])|(\r?\n)|([^\\{}\r\n]+)", re.S)


def entries(rtf):
    """Yields (colour number, text) for each line of the document's text."""
    depth, skip_below = 0, None
    colour, line, line_colour = 0, [], None
    fallback = 0  # characters after a \u that stand in for it in older readers

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

    for word, number, hex_byte, escaped, brace, newline, text in TOKEN.findall(rtf):
        if brace == b"{":
            depth += 1
        elif brace == b"}":
            if skip_below is not None and depth <= skip_below:
                skip_below = None
            depth -= 1
        elif word:
            if skip_below is not None:
                continue
            if word in (b"fonttbl", b"colortbl", b"stylesheet", b"info"):
                skip_below = depth
            elif word == b"cf":
                colour = int(number or 0)
            elif word == b"par":
                yield line_colour, "".join(line)
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
        yield line_colour, "".join(line)


def main(arguments):
    by_command = "--by-command" in arguments
    path = [a for a in arguments if a != "--by-command"][0]
    marker = {1: "->", 2: "<-"}  # the log's colour table: red sent, green received
    lines = []
    for colour, text in entries(open(path, "rb").read()):
        if not text.strip(" \0"):
            continue
        stamp, _, data = text.partition(":.....")
        if not by_command:
            print(f"  {stamp}  {marker.get(colour, '  ')} {data}")
        elif colour == 1 and data == "=" or not lines:
            # The prompt byte goes out ahead of every command: a new command starts.
            lines.append([stamp, "", ""])
            lines[-1][1] += data
        else:
            lines[-1][1 if colour == 1 else 2] += data
    for stamp, sent, received in lines:
        print(f"  {stamp}  -> {sent:<22} <- {received}")


if __name__ == "__main__":
    main(sys.argv[1:])

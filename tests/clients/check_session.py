#!/usr/bin/env python3
"""Checks one run of an example session (session.vbs, session.js) against the simulator.

    check_session.py OUTPUT FRAMES_JSON STATE_JSON SAVED_LOG

The script engine under Wine ends silently on a runtime error, so every step is checked
from the session's own output, and the device side from what the simulator received.
"""
import json
import sys

CHANNEL_ERROR = "Channel Error: Channel Parameter must be between 1 and 9."

# Every frame the session sends, in order; the refused call sends nothing.
EXPECTED_FRAMES = [
    "Y2R", "ER",
    "MN1R", "S1BR", "L1+25.00E-3R", "D1+400.0E-6R", "I1+50.00E-3R", "N1+10.00E+0R",
    "V1+2.500E+0R", "J1+100.0E-3R",
    "MG2R", "S2MR", "L2+10.00E-3R", "D2+1.000E-3R", "V2-1.250E+0R", "J2-50.00E-3R",
    "X12R", "T1", "Z12R", "T2",
    "GPR", "C23",
]

# What paradigms 2 and 3 (the copy) hold afterwards.
EXPECTED_CHANNELS = {
    1: {"mode": "N", "shape": "B", "delay": "+25.00E-3", "duration": "+400.0E-6",
        "interval": "+50.00E-3", "count": "+10.00E+0", "voltage": "+2.500E+0", "step": "+100.0E-3"},
    2: {"mode": "G", "shape": "M", "delay": "+10.00E-3", "duration": "+1.000E-3",
        "voltage": "-1.250E+0", "step": "-50.00E-3"},
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def main(output_file, frames_file, state_file, log_file):
    lines = [line.rstrip("\r\n") for line in open(output_file, encoding="latin-1")]
    steps = [line.strip() for line in lines if line.startswith("  ")]
    check("Connected." in lines, "the session did not connect")
    check(lines and lines[-1] == "Session complete.", "the session did not run to its end")

    # Each step reports ": accepted" (value setters) or ": done"; only the mistake fails.
    mistakes = [s for s in steps if s.startswith("SetChannelDelay 10,")]
    others = [s for s in steps if s not in mistakes]
    for step in others:
        check(step.endswith(": accepted") or step.endswith(": done"), f"step failed: {step}")
    check(sum(s.endswith(": accepted") for s in others) == 12, "not every value setter was accepted")
    check(len(others) == 23, f"expected 23 steps besides the mistake, saw {len(others)}")
    check(len(mistakes) == 1, "the deliberate mistake was not reported")
    if mistakes:
        # The server's own message reaches Err.Description / the exception unchanged.
        check(mistakes[0].endswith(": " + CHANNEL_ERROR), f"wrong description: {mistakes[0]}")
        check("8000FFFF" in mistakes[0], f"wrong status: {mistakes[0]}")

    frames = json.load(open(frames_file))["frames"]
    check(frames == EXPECTED_FRAMES, f"the stimulator received {frames}")

    state = json.load(open(state_file))
    check(state["paradigm"] == 2, f"selected paradigm {state['paradigm']}, not 2")
    check([t["channel"] for t in state["triggers"]] == [1, 2], f"triggers {state['triggers']}")
    paradigms = {p["number"]: p for p in state["paradigms"]}
    for number in (2, 3):
        channels = {c["channel"]: c for c in paradigms[number]["channels"]}
        for channel, expected in EXPECTED_CHANNELS.items():
            held = {k: channels[channel][k] for k in expected}
            check(held == expected, f"paradigm {number} channel {channel} holds {held}")
        check(paradigms[number]["links"] == [], f"paradigm {number} links {paradigms[number]['links']}")

    try:
        log = open(log_file, "rb").read()
    except OSError:
        log = b""
    check(log.startswith(b"{\\rtf"), "no session log in Rich Text Format was saved")
    for text in (b">0012L1+25.00E-3R", b">0003C23", b"OK.") if log else ():
        check(text in log, f"the saved log lacks {text.decode()}")

    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))

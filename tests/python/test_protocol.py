"""Protocol files: checked whole by the library's own rules before anything is sent, each
problem named by file, line and key; then programmed, from Python and from the command line."""
import os
import pickle

import pytest

import quorlib

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "protocol.toml")


def write(tmp_path, text):
    path = tmp_path / "p.toml"
    path.write_text(text)
    return str(path)


@pytest.mark.parametrize("text, problems", [
    ("[paradigm.2.channel.1]\nmode = 'train'\ndelay = 4000\n",
     [(3, "paradigm.2.channel.1.delay", "Range Error: Delay Value must be between 0 and 3999s.")]),
    ("[paradigm.2.channel.1]\ndealy = 1\n[paradigm.2.channel.10]\nmode = 'off'\n",
     [(2, "paradigm.2.channel.1.dealy", "unknown setting: a channel has mode, shape, delay"),
      (3, "paradigm.2.channel.10", "Channel Error: Channel Parameter must be between 1 and 9.")]),
    ("[paradigm.0.channel.1]\nmode = 'off'\n",
     [(1, "paradigm.0", "ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.")]),
    ("[paradigm.1]\nchannel.2.mode = 'fast'\nchannel.2.shape = 7\n",
     [(2, "paradigm.1.channel.2.mode", "must be one of off, freerun, train"),
      (3, "paradigm.1.channel.2.shape", "ChannelShape Error: Wrong Shape Parameter.")]),
    ("[paradigm.1.channel.2]\ncount = 12345\nvoltage = '2'\nstep = true\n",
     [(2, "paradigm.1.channel.2.count", "12340"), (3, "paradigm.1.channel.2.voltage", "must be a number"),
      (4, "paradigm.1.channel.2.step", "must be a number")]),
    ("[paradigm.1.channel.2]\ncount = 2.5\nduration = 1e-9\n",
     [(2, "paradigm.1.channel.2.count", "must be a whole number"),
      (3, "paradigm.1.channel.2.duration", "Range Error: Duration Value must be between 4us and 3999s.")]),
    ("# links\n[paradigm.3]\nlinks = [\n  [1, 2],\n  [4, 4],\n  [1, 13],\n  [1],\n]\n",
     [(3, "paradigm.3.links", "Error: ConnectChannel cant Connect a channel to itself."),
      (3, "paradigm.3.links", "Error: Second Parameter must be between 1 and 12."),
      (3, "paradigm.3.links", "a link is a pair of channel numbers")]),
    ("[paradigm.1]\nspeed = 3\n[stimulus]\nx = 1\n",
     [(3, "stimulus", "unknown key"), (2, "paradigm.1.speed", "unknown key")]),
    ("title = 'none'\n", [(1, "title", "unknown key")]),
    ("", [(1, "paradigm", "names no paradigm")]),
    ("[paradigm.1.channel.2]\nmode = \n", [(2, "", "not TOML")]),
])
def test_every_problem_of_a_file_is_named_by_line_and_key(tmp_path, text, problems):
    path = write(tmp_path, text)
    with pytest.raises(quorlib.ProtocolError) as raised:
        quorlib.load_protocol(path)
    found = raised.value.problems
    assert [(line, key) for line, key, _ in found] == [(line, key) for line, key, _ in problems], found
    for (_, _, message), (_, _, expected) in zip(found, problems):
        assert expected in message
    assert str(raised.value).startswith(f"{path}, line {problems[0][0]}")
    assert isinstance(raised.value, ValueError) and isinstance(raised.value, quorlib.Error)


def test_the_example_loads_in_the_order_it_is_sent():
    protocol = quorlib.load_protocol(EXAMPLE)
    assert list(protocol.paradigms) == [2, 3]
    assert [str(s) for s in protocol.paradigms[3]] == [
        "paradigm 3 channel 4 mode trig", "paradigm 3 channel 4 duration 0.0002", "paradigm 3 channel 4 voltage 5"]
    assert str(protocol.paradigms[2][-1]) == "paradigm 2 link 1 2"
    assert protocol.paradigms[2][0].source.endswith("protocol.toml, line 9")


def test_applying_stops_at_a_refusal_and_names_it(sim, pulsyn, tmp_path):
    protocol = quorlib.load_protocol(write(tmp_path, "[paradigm.4.channel.1]\nvoltage = 1\nstep = 9\ndelay = 1\n"))
    sim.command("limit step=5")
    accepted = []
    with pytest.raises(quorlib.RefusedError) as raised:
        protocol.apply(pulsyn, accepted.append)
    assert [str(s) for s in accepted] == ["paradigm 4 channel 1 voltage 1"]
    assert str(raised.value) == f"the stimulator refused paradigm 4 channel 1 step 9 ({tmp_path}/p.toml, line 3)"
    assert sim.frames() == ["Y4R", "ER", "V1+1.000E+0R", "J1+9.000E+0R"]


@pytest.mark.parametrize("error", [
    quorlib.ProtocolError("p.toml", [(3, "paradigm.1", "unknown key")]),
    quorlib.RefusedError(quorlib.Setting(1, 2, "delay", 0.5, "p.toml, line 4")),
])
def test_the_protocol_errors_survive_pickling(error):
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), str(copy), vars(copy)) == (type(error), str(error), vars(error))


"""Every member takes numbers by one rule: a whole-number parameter takes an int or any real
number whose exact value is whole, a value parameter any real number; everything else is
refused with ArgumentError naming the parameter, and nothing reaches the device."""
from decimal import Decimal
from fractions import Fraction

import pytest

import quorlib

try:
    import numpy
except ImportError:  # the numpy rows run where numpy is installed
    numpy = None

# (member, arguments, the same call with plain Python numbers): the device must receive
# exactly what the plain call sends.
TAKEN = [
    ("trigger", (2.0,), (2,)),
    ("trigger", (Decimal("2.000"),), (2,)),
    ("trigger", (Fraction(4, 2),), (2,)),
    ("change_paradigm", (Decimal("3E+0"),), (3,)),
    ("set_channel_n", (1, Decimal("2E+1")), (1, 20)),
    ("set_channel_n", (1.0, -5.0), (1, -5)),
    ("change_channel_mode", (1, 2.0), (1, quorlib.cmTrain)),
    ("set_channel_shape", (Fraction(3, 3), Decimal(2)), (1, quorlib.csRamp)),
    ("connect_channel", (9.0, Decimal(12)), (9, 12)),
    ("set_channel_delay", (1, Decimal("0.025")), (1, 0.025)),
    ("set_channel_voltage", (1, Fraction(5, 2)), (1, 2.5)),
    ("set_channel_delta_v", (1, -1), (1, -1.0)),
    ("set_channel_interval", (1, Decimal("1E-3")), (1, 0.001)),
]
if numpy is not None:
    TAKEN += [
        ("trigger", (numpy.float64(2.0),), (2,)),
        ("trigger", (numpy.float16(2.0),), (2,)),
        ("trigger", (numpy.float32(2),), (2,)),
        ("trigger", (numpy.longdouble(2),), (2,)),
        ("trigger", (numpy.uint8(2),), (2,)),
        ("set_channel_n", (numpy.int64(1), numpy.float32(1000)), (1, 1000)),
        ("set_channel_duration", (1, numpy.float32(0.5)), (1, 0.5)),
        ("set_channel_voltage", (numpy.int32(1), numpy.longdouble(2.5)), (1, 2.5)),
    ]

WHOLE = "Type Error: {} Parameter must be a whole number, not "
NUMBER = "Type Error: {} Parameter must be a number, not "
# (member, arguments, the refused parameter's Python name, the start of the message)
REFUSED = [
    ("trigger", (Decimal("2.5"),), "channel", "Type Error: Channel Parameter must be a whole number, not Decimal('2.5')."),
    ("trigger", (Fraction(5, 2),), "channel", WHOLE.format("Channel") + "Fraction(5, 2)."),
    ("trigger", (Decimal("1.9999"),), "channel", WHOLE.format("Channel")),
    ("trigger", (Fraction(19, 10),), "channel", WHOLE.format("Channel")),
    # Whole only after rounding to a float: judged on the exact value.
    ("trigger", (Decimal("1.0000000000000000000000000001"),), "channel", WHOLE.format("Channel")),
    ("trigger", (1.5,), "channel", WHOLE.format("Channel") + "1.5."),
    ("trigger", (float("nan"),), "channel", WHOLE.format("Channel") + "nan."),
    ("trigger", (True,), "channel", WHOLE.format("Channel") + "the Boolean True."),
    ("trigger", ("2",), "channel", WHOLE.format("Channel") + "'2' (str)."),
    ("trigger", (None,), "channel", WHOLE.format("Channel") + "None."),
    ("trigger", ([2],), "channel", WHOLE.format("Channel") + "[2] (list)."),
    ("trigger", (quorlib.cmTrain,), "channel", WHOLE.format("Channel") + "ChannelModes.cmTrain"),
    ("trigger", (2 ** 31,), "channel", "Range Error: Channel Parameter must be a whole number from -2147483648 to "
                                       "2147483647, not 2147483648."),
    ("set_channel_n", (1, 2 ** 70), "count", "Range Error: N Parameter must be a whole number from"),
    ("set_channel_n", (1, Decimal("2.5")), "count", WHOLE.format("N")),
    ("set_channel_n", (1, Decimal("-0.5")), "count", WHOLE.format("N")),
    ("set_channel_delay", (True, 0.5), "channel", WHOLE.format("Channel")),
    ("set_channel_voltage", (1, True), "voltage", NUMBER.format("Voltage") + "the Boolean True."),
    ("set_channel_delay", (1, "0.5"), "delay", NUMBER.format("Delay") + "'0.5' (str)."),
    ("set_channel_delta_v", (1, quorlib.csBipolar), "step", NUMBER.format("DeltaV") + "ChannelShapes.csBipolar"),
    ("change_channel_mode", (1, quorlib.csBipolar), "mode",
     "Type Error: Mode Parameter must be a whole number, not ChannelShapes.csBipolar (a member of another enumeration)."),
    ("set_channel_shape", (1, quorlib.cmTrain), "shape", WHOLE.format("Shape") + "ChannelModes.cmTrain"),
    ("connect_channel", (1, 2.5), "channel2", WHOLE.format("Channel2")),
    ("copy_paradigm", (None,), "destination", WHOLE.format("DestParadigm")),
    ("save_session_commands", (None,), "filename", "Type Error: FileName Parameter must be text, not None."),
]
if numpy is not None:
    REFUSED += [
        ("trigger", (numpy.float16(2.5),), "channel", WHOLE.format("Channel") + "2.5 (numpy.float16)."),
        ("trigger", (numpy.longdouble(2.5),), "channel", WHOLE.format("Channel")),
        ("trigger", (numpy.float32(1.5),), "channel", WHOLE.format("Channel")),
        ("trigger", (numpy.bool_(True),), "channel", WHOLE.format("Channel") + "the Boolean True."),
        ("trigger", (numpy.array([2.0]),), "channel", WHOLE.format("Channel") + "array([2.])"),
        ("set_channel_voltage", (1, numpy.array(2.0)), "voltage", NUMBER.format("Voltage") + "array(2.)"),
    ]


def test_whole_and_real_numbers_of_every_type_send_exactly_the_number_written(sim, pulsyn):
    for member, arguments, plain in TAKEN:
        sim.fresh()
        getattr(pulsyn, member)(*arguments)
        getattr(pulsyn, member)(*plain)
        sent = sim.frames()
        assert len(sent) == 2 and sent[0] == sent[1], (member, arguments, sent)


def test_anything_else_is_refused_naming_the_parameter_and_nothing_is_sent(sim, pulsyn):
    for member, arguments, parameter, message in REFUSED:
        with pytest.raises(quorlib.ArgumentError) as raised:
            getattr(pulsyn, member)(*arguments)
        error = raised.value
        assert str(error).startswith(message), (member, arguments, str(error))
        assert (error.parameter, error.member, error.port) == (parameter, member, pulsyn.port_name), (member, arguments)
    # Through the automation names and their keywords, the same rule and the same names.
    with pytest.raises(quorlib.ArgumentError) as raised:
        pulsyn.SetChannelDelay(Channel=1, Delay=True)
    assert (raised.value.parameter, raised.value.member) == ("delay", "set_channel_delay")
    for wrong in (lambda: setattr(pulsyn, "timeout", "3"), lambda: setattr(pulsyn, "connected", "no"),
                  lambda: quorlib.Pulsyn(port=7), lambda: quorlib.Pulsyn(timeout=True),
                  lambda: quorlib.Pulsyn(timeout=0), lambda: quorlib.Pulsyn(port="ttyACM0")):
        with pytest.raises(quorlib.ArgumentError):
            wrong()
    assert sim.frames() == []
    assert pulsyn.connected and pulsyn.timeout == 15.0

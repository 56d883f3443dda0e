"""The messages the documents quote, each with the test that makes the library produce it.

To quote a new message in README.md, examples/INSTALL.md or docs/reference.md: write a test
that drives the library to it and compares the whole text, then add the message here exactly
as the document quotes it (placeholders included), mapped to that test's file. When the test
cannot hold the document's exact words (it names its own port, or waits a shorter time to
stay fast), map the message to (file, {document's text: the test's text}): each document text
must occur in the message, so a changed number in the document still fails. check-messages.py
prints, for a message missing here, the test files that hold it.
"""

PRODUCED_BY = {
    'Cannot create file "<full name>". <the system\'s reason>': 'tests/monitor/SaveLogTest.cpp',
    "''mands.txt'' is not a valid integer value": 'tests/server/PulsynConnectionTest.cpp',
    'QuorLib.Pulsyn was called from another thread than the one that first used it: ...': 'tests/server/PulsynConnectionTest.cpp',
    'Not connected to the stimulator: call Connect (or set Connected to True) first.': 'tests/python/test_refusals.py',
    "Cannot change the connection while a command is waiting for the stimulator's reply: ...": 'tests/server/ReentrantCallTest.cpp',
    'Channel Error: Channel Parameter must be between 1 and 9.': 'tests/python/test_refusals.py',
    'ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.': 'tests/python/test_refusals.py',
    'ChannelMode Error: Wrong Mode Parameter.': 'tests/python/test_refusals.py',
    'ChannelShape Error: Wrong Shape Parameter.': 'tests/python/test_refusals.py',
    'Range Error: Delay Value must be between 0 and 3999s.': 'tests/python/test_refusals.py',
    'Range Error: Duration Value must be between 4us and 3999s.': 'tests/python/test_refusals.py',
    'Range Error: Interval Value must be between 40us and 3999s.': 'tests/python/test_refusals.py',
    'Range Error: N Value 12345 has more than four significant digits, which the stimulator cannot take exactly: use 12340 or 12350.': 'tests/python/test_refusals.py',
    'Error: First Parameter must be between 1 and 9.': 'tests/python/test_refusals.py',
    'Error: Second Parameter must be between 1 and 12.': 'tests/python/test_refusals.py',
    'Error: ConnectChannel cant Connect a channel to itself.': 'tests/python/test_refusals.py',
    'Error: DisconnectChannel cant disconnect a channel from itself.': 'tests/python/test_refusals.py',
    'CopyParadigm Error: Paradigm Parameter must be between 1 and 9.': 'tests/python/test_refusals.py',
    'CopyParadigm Error: Cannot copy paradigm to itself.': 'tests/python/test_refusals.py',
    'CopyParadigm Error: Cannot read current paradigm number.': 'tests/server/PulsynCommandTest.cpp',
    "''<text>'' is not a valid integer value": 'tests/server/PulsynConnectionTest.cpp',
    "'<value>' has no device number form: the stimulator takes 0 and magnitudes from 1.000E-9 to 9.999E+9": 'tests/value/QuorValueTest.cpp',
    'QuorLib.Pulsyn was called from another thread than the one that first used it: make every call from that thread. The object belongs to that thread (the class is apartment-threaded); a program that needs it on another thread hands it over through COM, which then carries each call back to the first thread.': 'tests/server/PulsynConnectionTest.cpp',
    'Error accessing specified device (Error: <n>)': 'tests/serial/CommTest.cpp',
    "Error creating the port's event watch: the system is out of handles; ...": 'tests/serial/ResourceLimitTest_posix.cpp',
    'Write error (Error: <n>)': 'tests/serial/CommTest.cpp',
    'Read error (Error: <n>)': 'tests/serial/CommTest.cpp',
    "Cannot change the connection while a command is waiting for the stimulator's reply: wait until that call has returned.": 'tests/server/ReentrantCallTest.cpp',
    'Cannot create file "<full path>". <reason>': 'tests/monitor/SaveLogTest.cpp',
    'COM7 is a device name: ...': 'tests/monitor/LogFileNameTest.cpp',
    'Type Error: <Parameter> Parameter must be a whole number, not <what was passed>.': 'tests/server/LateBoundArgumentsTest.cpp',
    'must be a number': 'tests/server/LateBoundArgumentsTest.cpp',
    '<Member> takes <n> arguments (<names>), not <m>.': 'tests/server/LateBoundArgumentsTest.cpp',
    'Stopped by an error: ...': 'tests/clients/port-variable.sh',
    'Type Error: Channel Parameter must be a whole number, not 1.5.': 'tests/server/LateBoundArgumentsTest.cpp',
    'Range Error: Channel Parameter must be a whole number from -2147483648 to 2147483647, not 3e+09.': 'tests/server/LateBoundArgumentsTest.cpp',
    'Type Error: Voltage Parameter must be a number, not the Boolean True.': 'tests/server/LateBoundArgumentsTest.cpp',
    '... not a date.': 'tests/server/LateBoundArgumentsTest.cpp',
    '... not Empty (a variable that was never given a value: check its spelling).': 'tests/server/LateBoundArgumentsTest.cpp',
    '... not an array.': 'tests/server/LateBoundArgumentsTest.cpp',
    '... not an object.': 'tests/server/LateBoundArgumentsTest.cpp',
    'Type Error: Voltage Parameter must be a number, not the text "2,5" (text is taken only when it is one plain number, with "." as the decimal separator and no digit grouping).': 'tests/server/LateBoundArgumentsTest.cpp',
    'Type Error: FileName Parameter must be text, not Null.': 'tests/clients/refused-arguments.sh',
    'Type Error: Connected must be True or False, not the text "x".': 'tests/clients/refused-arguments.sh',
    'Trigger takes 1 argument (Channel), not 2.': 'tests/clients/refused-arguments.sh',
    "''<rest>'' is not a valid integer value": 'tests/server/PulsynConnectionTest.cpp',
    "''<c>'' is not a valid integer value": 'tests/server/PulsynConnectionTest.cpp',
    'use 2147000000 (2148000000 is beyond the counts a call can pass).': 'tests/server/PulsynCommandTest.cpp',
    '<name> is a device name: Windows opens CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 as devices in every folder and with any extension, so the log would go to the device, not to a file. Choose another name.': 'tests/monitor/LogFileNameTest.cpp',
    'It is a device path (\\\\.\\ or \\\\?\\ followed by a device), not a file on disk: give the name of a file, such as C:\\data\\session.rtf.': 'tests/clients/refused-arguments.sh',
    'It is a device, not a file on disk: choose the name of a file.': 'tests/monitor/SaveLogTest.cpp',
    'It is a device or other special file, ...': 'tests/monitor/SaveLogTest.cpp',
    'The name contains a NUL character (code 0), which no file name can hold: remove it.': 'tests/monitor/LogFileNameTest.cpp',
    'The name contains an unpaired surrogate (U+D800), which is half of a character, not text: correct the name.': 'tests/monitor/SaveLogTest.cpp',
    'The name is too long: <n> characters, with <m> in its longest folder or file name, where the system takes at most 259 in all and 255 in one folder or file name: choose a shorter folder or name.': 'tests/monitor/LogFileNameTest.cpp',
    "Error creating the port's event watch: the system is out of handles; close other programs or ports, then connect again (Error: <n>)": 'tests/serial/ResourceLimitTest_posix.cpp',
    'Type Error: <Parameter> Parameter must be ...': 'tests/server/LateBoundArgumentsTest.cpp',
    'Trigger is a method: call it with its arguments (Channel).': 'tests/clients/refused-arguments.sh',
    'Connected is a property: read it, or set it to True or False.': 'tests/clients/refused-arguments.sh',
    '<Member> was called with a null pointer for its result: pass a variable to receive it.': 'tests/server/PulsynConnectionTest.cpp',
    'Error accessing specified device <device>: permission denied. Add your user to the dialout group (sudo usermod -aG dialout $USER), then log out and in again (Error: 13)': 'tests/serial/CommTest.cpp',
    "(Older entries were removed: the log keeps its newest entries within 16777216 bytes of memory.)":
        ("tests/monitor/MonitorTest.cpp", {"16777216": "3000"}),  # a small log fills in a test
    'The environment variable QUORLIB_PORT is "7", which names no port: set it to the stimulator\'s port, e.g. COM7, '
    "or remove it to let QuorLib search for the stimulator.": "tests/clients/port-variable.sh",
    'The environment variable QUORLIB_PORT is "<value>", which names no port: set it to the stimulator\'s port, e.g. '
    "COM7, or remove it to let QuorLib search for the stimulator.": "tests/clients/port-variable.sh",
    "The stimulator's port COM7 was closed, perhaps unplugged: ...": ("tests/python/test_connection.py", {"COM7": "{link}"}),
    "The stimulator's port COM7 was closed, perhaps unplugged: check its cable and power, then connect again (Connect, "
    "or set Connected to True).": ("tests/python/test_connection.py", {"COM7": "{link}"}),
    "Not connected to the stimulator on COM7 any more: another object connected to COM9, ...":
        ("tests/server/PulsynConnectionTest.cpp", {"COM7": '" + PortText(kPortA) + "', "COM9": '" + PortText(kPortB) + "'}),
    "Not connected to the stimulator on COM7 any more: another object connected to COM9, and QuorLib keeps one "
    "connection per process. Call Connect (or set Connected to True) to connect this object again.":
        ("tests/server/PulsynConnectionTest.cpp", {"COM7": '" + PortText(kPortA) + "', "COM9": '" + PortText(kPortB) + "'}),
    "SetChannelDelay was called with a null pointer for its result: pass a variable to receive it.":
        ("tests/server/PulsynConnectionTest.cpp", {"SetChannelDelay": "SetChannelVoltage"}),
    'Cannot send "<command>" while another command is waiting for the stimulator\'s reply: wait until that call has '
    "returned.": "tests/server/PulsynCommandTest.cpp",
    '... not an invalid decimal value (its scale is above 28 or its sign byte is not 0 or 128).':
        'tests/server/LateBoundArgumentsTest.cpp',
    "Type Error: Channel Parameter must be a whole number, not Decimal('2.5').": 'tests/python/test_arguments.py',
    'Type Error: Mode Parameter must be a whole number, not ChannelShapes.csBipolar (a member of another enumeration).':
        'tests/python/test_arguments.py',
    '... What the port still held of the command could not be discarded (Error: <n>), so it may still reach the '
    'stimulator.': 'tests/serial/DriverCountsTest_posix.cpp',
    'accepted: paradigm 2 channel 1 mode train': 'tests/python/test_cli_and_logging.py',
    'The traffic log is saved in C:\\Users\\you\\Documents\\pulsyn-session.rtf':
        ('tests/installer/install-test.sh',
         {'C:\\Users\\you\\Documents\\pulsyn-session.rtf': 'C:\\\\users\\\\.*\\\\Documents\\\\pulsyn-session.rtf'}),
    'EscapeCommFunction failure (Error: <n>)': 'tests/serial/EventThreadTest.cpp',
    'COM7 has no modem lines (its driver does not support DTR and RTS): used without them':
        'tests/clients/client-session.sh',
    'Not connected to the stimulator: Connect searched for it and found none (<the ports it tried>). Check that the '
    'stimulator is plugged in and switched on, then call Connect again, or name its port: ...':
        'tests/server/PulsynConnectionTest.cpp',
    'no serial port of the kind it uses was there': 'tests/server/PulsynConnectionTest.cpp',
    'No stimulator answered on <port>: the port is open, but nothing replied to "GP" within 15000 ms. ...':
        ('tests/server/PulsynConnectionTest.cpp', {'15000 ms': '300 ms'}),  # a short wait keeps the test fast
    "Cannot use <device> as the stimulator's port: it is no serial port (<what it is>). ... (Error: 25)":
        'tests/serial/CommTest.cpp',
    'Invalid device handle, access denied (Error: -1)': 'tests/serial/CommTest.cpp',
}

# Quoted by the documents but produced by no test here, each with the reason.
NOT_PRODUCED = {
    "Failed to Save Stream":
        "only a file system that fails part-way through a write (a full disk, a pulled USB stick) gives it",
    "The monitor window is not available: <reason>.":
        "only a session without a desktop (a service) gives it; the Windows tests run on a virtual display",
    "Error accessing specified device (Error: 5)":
        "another program holding the port: Wine and Linux pseudo-terminals let a second opener in",
    "Write error: the stimulator's port did not take the command within 1000 ms (Error: 1460)":
        "the code is the system's (110 on Linux): tests/monitor/LinkWriteTest.cpp checks the whole message with "
        "the code of its platform and a 200 ms limit",
    "Write error: the stimulator's port took only <m> of the command's <n> bytes within 1000 ms, so the command may "
    "have reached the stimulator incomplete; ...":
        "tests/monitor/LinkWriteTest.cpp composes it from the count that went out and the platform's code",
    "Write error: the stimulator's port took only <m> of the command's <n> bytes within <t> ms, so the command may "
    "have reached the stimulator incomplete; the rest was discarded. Check the stimulator before sending the command "
    "again (Error: <code>)":
        "tests/monitor/LinkWriteTest.cpp composes it from the count that went out, the time waited and the platform's code",
    "... transfer event ...": "the system refusing an event object: no test can starve itself of them",
    "it tried COM3 (/dev/ttyACM2), COM5 (/dev/ttyACM4)":
        "an example with two candidates: tests/server/PulsynConnectionTest.cpp checks the whole message with one",
    "Error starting the port's event thread: ...": "the system refusing a thread: no test can starve itself of them",
    "... QuorLib.Pulsyn: Channel Error: Channel Parameter must be between 1 and 9. ...":
        "LabVIEW's error text around the library's message",
}

# Quoted texts of four words or more that are no message of the library.
NOT_MESSAGES = {
    "quorlib --port /dev/ttyACM0 paradigm 2 mode 1 train delay 1 0.025 trigger 1 log run.rtf":
        "a command line of the quorlib program, on a device the reader has",
    "port command -> reply (duration)": "the form of the Python traffic records' message",
    "<file>, line <n>, <key>: <message>": "the form in which a protocol file's problems are reported",
    "ActiveX component can't create object": "Windows' own message",
    "Edit environment variables for your account": "a Windows menu entry",
    "Ports (COM & LPT)": "a Device Manager group",
    "QuorLib Library Version 1.0": "the type library's name as LabVIEW lists it",
    "Show Creatable Objects Only": "a LabVIEW option",
}

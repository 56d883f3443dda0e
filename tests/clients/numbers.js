// Numbers through JScript: each call prints what happened. With the argument de, only the
// cases of a German locale.
var p = new ActiveXObject("QuorLib.Pulsyn");
if (!p.Connect()) { WScript.Echo("no connection"); WScript.Quit(0); }
function report(label, call) {
    try {
        call();
        WScript.Echo(label + ": sent");
    } catch (e) {
        WScript.Echo(label + ": refused: " + e.description);
    }
}
if (WScript.Arguments.length > 1 && WScript.Arguments(0) == "de") {
    report("SetChannelVoltage(3, \"2,5\")", function () { p.SetChannelVoltage(3, "2,5"); });
    report("SetChannelVoltage(3, \"2.5\")", function () { p.SetChannelVoltage(3, "2.5"); });
    p.Connected = false;
    WScript.Quit(0);
}
report("Trigger(1.5)", function () { p.Trigger(1.5); });
report("SetChannelN(1, NaN)", function () { p.SetChannelN(1, NaN); });
report("SetChannelN(1, Infinity)", function () { p.SetChannelN(1, Infinity); });
report("SetChannelVoltage(1, [1,2])", function () { p.SetChannelVoltage(1, [1, 2]); });
report("SetChannelVoltage(1, true)", function () { p.SetChannelVoltage(1, true); });
report("SetChannelVoltage(1, null)", function () { p.SetChannelVoltage(1, null); });
report("SetChannelVoltage(1, undefined)", function () { p.SetChannelVoltage(1, undefined); });
report("SetChannelVoltage(1, new Date())", function () { p.SetChannelVoltage(1, new Date()); });
report("SetChannelVoltage(1, {})", function () { p.SetChannelVoltage(1, {}); });
report("ChangeParadigm(\"3.5\")", function () { p.ChangeParadigm("3.5"); });
report("Trigger(4)", function () { p.Trigger(4); });
report("SetChannelVoltage(1, \"2.5\")", function () { p.SetChannelVoltage(1, "2.5"); });
report("SetChannelVoltage(1, -1.25)", function () { p.SetChannelVoltage(1, -1.25); });
report("SetChannelN(1, 7)", function () { p.SetChannelN(1, 7); });
report("Trigger(1, 2)", function () { p.Trigger(1, 2); });
report("SetChannelN(1)", function () { p.SetChannelN(1); });
report("SaveSessionCommands(null)", function () { p.SaveSessionCommands(null); });
report("SaveSessionCommands(true)", function () { p.SaveSessionCommands(true); });
report("Connected = 'x'", function () { p.Connected = "x"; });
report("x = p.Trigger", function () { var x = p.Trigger; });
report("ClearParadigm = 5", function () { p.ClearParadigm = 5; });
report("Connected(1)", function () { p.Connected(1); });
p.Connected = false;

// Trigger latency, a script's side under Wine's cscript: COUNT triggers of channel 1, each
// stamped where the call starts and where it returns (Date: the wall clock, whole
// milliseconds), each after a dialogue (SetChannelDelay), whose reply says that the line is
// quiet. bench/trigger-latency.sh lines the stamps up with the simulator's.
//
//   cscript //nologo trigger_latency.js COUNT COM7
// Wine's cscript ends silently, with status 0, on an error the script does not catch.
try {
    var count = parseInt(WScript.Arguments(0), 10);
    var p = new ActiveXObject("QuorLib.Pulsyn");
    if (!p.Connect()) throw new Error("no stimulator");
    for (var i = 0; i < count; i++) {
        p.SetChannelDelay(1, 0.025);
        var start = new Date().getTime();
        p.Trigger(1);
        var end = new Date().getTime();
        WScript.Echo("call " + (start / 1000).toFixed(3) + " " + (end / 1000).toFixed(3));
    }
    p.Connected = false;
} catch (e) {
    WScript.Echo("error " + (e.number >>> 0).toString(16) + " after " + i + " triggers: " + (e.description || e.message));
    WScript.Quit(1);
}

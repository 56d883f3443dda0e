#!/usr/bin/env bash
# Arguments that must not reach the stimulator as they would be converted, through real
# automation clients (Wine's VBScript and JScript engines) against the simulated stimulator
# on COM7: numbers under an English and a German user locale, and log file names that
# Windows opens as devices (COM7 among them: the stimulator's own port).
#
#   refused-arguments.sh <pulsyn-sim> <wine.sh> <prefix> <loader> <system-dir> <QuorLib.dll> <shim> <folder>
#
# Every call prints whether it was sent or refused, with the library's description; the
# output must be exactly the expected one, and the simulator must have received exactly the
# commands of the calls that were taken, nothing of the refused ones.
set -euo pipefail
sim=$1; wine_sh=$2; prefix=$3; loader=$4; sysdir=$5; dll=$6; shim=$7; folder=$8
here=$(cd "$(dirname "$0")" && pwd)

. "$here/client-setup.sh"

cp "$folder/numbers.vbs" "$folder/numbers.js" "$folder/savelog.vbs" "$work/"
failures=0
# run <locale> <script> [argument]: the script's output, carriage returns removed.
run() {
    local locale=$1 script=$2
    shift 2
    LC_ALL=$locale LD_PRELOAD="$shim" wine "C:\\windows\\$sysdir\\cscript.exe" //nologo "$(winpath "$work/$script")" \
        "$@" COM7 </dev/null | tr -d '\r'
}
# expect <label> <actual> <expected>
expect() {
    if [ "$2" == "$3" ]; then
        echo "== $1: as expected"
        printf '%s\n' "$2"
    else
        echo "FAIL: $1" >&2
        diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") >&2 || true
        failures=$((failures + 1))
    fi
}

whole="must be a whole number, not"
number="must be a number, not"
english='(text is taken only when it is one plain number, with "." as the decimal separator and no digit grouping)'
german='(text is taken only when it is one plain number, with "," as the decimal separator and no digit grouping)'

expect "VBScript, English" "$(run C.UTF-8 numbers.vbs en)" "$(cat <<END
Trigger 1.5: refused: Type Error: Channel Parameter $whole 1.5.
SetChannelN 2.5: refused: Type Error: N Parameter $whole 2.5.
SetChannelVoltage True: refused: Type Error: Voltage Parameter $number the Boolean True.
SetChannelVoltage date: refused: Type Error: Voltage Parameter $number a date.
SetChannelVoltage Empty: refused: Type Error: Voltage Parameter $number Empty (a variable that was never given a value: check its spelling).
SetChannelVoltage Null: refused: Type Error: Voltage Parameter $number Null.
SetChannelVoltage Array: refused: Type Error: Voltage Parameter $number an array.
SetChannelVoltage object: refused: Type Error: Voltage Parameter $number an object.
SetChannelVoltage "2,5": refused: Type Error: Voltage Parameter $number the text "2,5" $english.
SetChannelVoltage "1,000.5": refused: Type Error: Voltage Parameter $number the text "1,000.5" $english.
ChangeParadigm "2x": refused: Type Error: ParadigmNumber Parameter $whole the text "2x" $english.
ChangeChannelMode 1, 2.5: refused: Type Error: Mode Parameter $whole 2.5.
SetChannelShape True, 1: refused: Type Error: Channel Parameter $whole the Boolean True.
x = p.Trigger: refused: Trigger is a method: call it with its arguments (Channel).
Trigger x (3): sent
ChangeParadigm 2.0: sent
ChangeChannelMode 1, CByte(2): sent
SetChannelDelay CCur(0.025): sent
SetChannelN x, n (40): sent
SetChannelVoltage "2.5": sent
SetChannelShape " 1 ": sent
END
)"

expect "VBScript, German" "$(run de_DE.UTF-8 numbers.vbs de)" "$(cat <<END
SetChannelVoltage "2,5": sent
SetChannelVoltage "2.5": refused: Type Error: Voltage Parameter $number the text "2.5" $german.
SetChannelVoltage "1.000,5": refused: Type Error: Voltage Parameter $number the text "1.000,5" $german.
SetChannelDeltaV 0.5: sent
SetChannelN CStr(1.5): refused: Type Error: N Parameter $whole the text "1,5".
END
)"

expect "JScript, English" "$(run C.UTF-8 numbers.js)" "$(cat <<END
Trigger(1.5): refused: Type Error: Channel Parameter $whole 1.5.
SetChannelN(1, NaN): refused: Type Error: N Parameter $whole NaN.
SetChannelN(1, Infinity): refused: Type Error: N Parameter $whole infinity.
SetChannelVoltage(1, [1,2]): refused: Type Error: Voltage Parameter $number an object.
SetChannelVoltage(1, true): refused: Type Error: Voltage Parameter $number the Boolean True.
SetChannelVoltage(1, null): refused: Type Error: Voltage Parameter $number Null.
SetChannelVoltage(1, undefined): refused: Type Error: Voltage Parameter $number Empty (a variable that was never given a value: check its spelling).
SetChannelVoltage(1, new Date()): refused: Type Error: Voltage Parameter $number an object.
SetChannelVoltage(1, {}): refused: Type Error: Voltage Parameter $number an object.
ChangeParadigm("3.5"): refused: Type Error: ParadigmNumber Parameter $whole the text "3.5".
Trigger(4): sent
SetChannelVoltage(1, "2.5"): sent
SetChannelVoltage(1, -1.25): sent
SetChannelN(1, 7): sent
Trigger(1, 2): refused: Trigger takes 1 argument (Channel), not 2.
SetChannelN(1): refused: SetChannelN takes 2 arguments (Channel, N), not 1.
SaveSessionCommands(null): refused: Type Error: FileName Parameter must be text, not Null.
SaveSessionCommands(true): refused: Type Error: FileName Parameter must be text, not the Boolean True.
Connected = 'x': refused: Type Error: Connected must be True or False, not the text "x".
x = p.Trigger: refused: Trigger is a method: call it with its arguments (Channel).
ClearParadigm = 5: refused: ClearParadigm is a method: call it without arguments.
Connected(1): refused: Connected is a property: read it, or set it to True or False.
END
)"

device="is a device name: Windows opens CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 as devices in every folder and with any extension, so the log would go to the device, not to a file. Choose another name."
expect "JScript, German" "$(run de_DE.UTF-8 numbers.js de)" "$(cat <<END
SetChannelVoltage(3, "2,5"): sent
SetChannelVoltage(3, "2.5"): refused: Type Error: Voltage Parameter $number the text "2.5" $german.
END
)"

device_path='refused: Cannot create file "\\.\COM7". It is a device path (\\.\ or \\?\ followed by a device), not a file on disk: give the name of a file, such as C:\data\session.rtf.'
saves="$work/saves"
mkdir -p "$saves"
w=$(winpath "$saves")
expect "SaveSessionCommands to devices" "$(run C.UTF-8 savelog.vbs "$w")" "$(cat <<END
refused: Cannot create file "COM7". COM7 $device
refused: Cannot create file "C:\data\COM7.rtf". COM7 $device
$device_path
refused: Cannot create file "$w\com7.log". COM7 $device
refused: Cannot create file "$w\Nul.txt". NUL $device
refused: Cannot create file "$w\COM7 .rtf". COM7 $device
session.rtf: saved
END
)"
if ! grep -q '>0003Y4R' "$saves/session.rtf"; then
    echo "FAIL: the saved log does not hold the session's command" >&2
    failures=$((failures + 1))
fi
expect "files made" "$(ls "$saves")" "session.rtf"

control "wait idle" >/dev/null
frames=$(control frames)
want='["T3","Y2R","MN1R","L1+25.00E-3R","N3+40.00E+0R","V1+2.500E+0R","S1BR","V2+2.500E+0R","J2+500.0E-3R","T4","V1+2.500E+0R","V1-1.250E+0R","N1+7.000E+0R","V3+2.500E+0R","Y4R"]'
got=$(python3 -c 'import json,sys; print(json.dumps([f["text"] if isinstance(f, dict) else f for f in json.loads(sys.argv[1])["frames"]], separators=(",", ":")))' "$frames")
expect "frames the stimulator received" "$got" "$want"
exit $((failures > 0))

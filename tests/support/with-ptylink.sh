#!/bin/sh
# Runs a command (a Windows test under Wine) with a serial line between two COM ports of the
# Wine prefix, made by the ptylink relay, and removes the line afterwards.
#
#   with-ptylink.sh PTYLINK DOSDEVICES COM_A COM_B HANGUP_FILE COMMAND...
#
# QUOR_TEST_PRELOAD, when set, is preloaded into COMMAND only (the modem-line shim of the
# Wine loader's bitness, which the host programs here need not see).
set -eu
ptylink=$1; dosdevices=$2; a=$3; b=$4; hangup=$5; shift 5
mkdir -p "$dosdevices"
pid=$("$ptylink" "$dosdevices/com$a" "$dosdevices/com$b" "$hangup")
trap 'kill "$pid" 2>/dev/null || true' EXIT
set +e
if [ -n "${QUOR_TEST_PRELOAD:-}" ]; then
    LD_PRELOAD="$QUOR_TEST_PRELOAD" "$@"
else
    "$@"
fi
status=$?
exit "$status"

// TPulsyn: the stimulator control object behind "QuorLib.Pulsyn".
//
// Each member checks its arguments before any traffic, turns the call into one short ASCII
// command and hands it to the process-wide device link frmComm. Every member returns an
// automation status: S_OK, or on failure E_UNEXPECTED (or the failure's own negative
// status) with the thread's error information describing what went wrong. Out-parameters
// are written only on success.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "server/AutomationTypes.h"

namespace quor {

class TfrmComm;

// The one monitor window with its port, shared by every TPulsyn of the process; created
// and destroyed only by writing Connected.
extern std::unique_ptr<TfrmComm> frmComm;

// The device number text (e.g. +25.00E-3) of a value; raises for values without one.
std::string EncodeDeviceNumber(double Value);

class TPulsyn {
public:
    TPulsyn() = default;
    virtual ~TPulsyn() = default;

    HRESULT ChangeParadigm(int32_t ParadigmNumber);
    HRESULT ChangeChannelMode(int32_t Channel, ChannelModes Mode);
    HRESULT get_Connected(VARIANT_BOOL* Value);
    HRESULT put_Connected(VARIANT_BOOL Value);
    HRESULT Connect(VARIANT_BOOL* Value);
    HRESULT ClearParadigm();
    HRESULT CopyParadigm(int32_t DestParadigm);
    HRESULT Trigger(int32_t Channel);
    HRESULT ConnectChannel(int32_t Channel1, int32_t Channel2);
    HRESULT DisconnectChannel(int32_t Channel1, int32_t Channel2);
    HRESULT SetChannelDelay(int32_t Channel, double Delay, VARIANT_BOOL* Value);
    HRESULT SetChannelDuration(int32_t Channel, double Duration, VARIANT_BOOL* Value);
    HRESULT SetChannelInterval(int32_t Channel, double Interval, VARIANT_BOOL* Value);
    HRESULT SetChannelN(int32_t Channel, int32_t N, VARIANT_BOOL* Value);
    HRESULT SetChannelVoltage(int32_t Channel, double Voltage, VARIANT_BOOL* Value);
    HRESULT SetChannelDeltaV(int32_t Channel, double DeltaV, VARIANT_BOOL* Value);
    HRESULT SetChannelShape(int32_t Channel, ChannelShapes Shape, VARIANT_BOOL* Value);

protected:
    VARIANT_BOOL FConnected = VARIANT_FALSE;

    // The window, or a clear failure when the client has not connected.
    static TfrmComm& Window();
    static void CheckChannel(int32_t Channel);
    static bool CommandSucceeded(const std::string& Command);

private:
    void WriteConnected(VARIANT_BOOL Value);
    HRESULT SetChannelValue(int32_t Channel, char Letter, double Value, VARIANT_BOOL* Result);
};

// Runs a member's body under the automation boundary: S_OK when it completes, otherwise a
// failed status with the thread's error information set from the failure.
template <class Body>
HRESULT RunGuarded(Body&& body);
HRESULT ReportFailure(const std::string& message, int32_t status);

}  // namespace quor

#include "server/ObjPulsynGuard.h"

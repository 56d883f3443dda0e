// The calling thread's automation error information: what a client reads after a failed
// call (Err.Description in VBScript, the exception message in Python or C#).
#pragma once

#include <cstdint>
#include <string>

#include "base/Exceptions.h"

namespace quor {

// Sets the thread's error information: interface IPulsyn, source "QuorLib.Pulsyn", the
// given description, no help file.
void SetPulsynErrorInfo(const std::string& description);

#ifndef _WIN32
// Natively the record is kept per thread; clients of the native build read it here.
struct TErrorInfoRecord {
    std::string InterfaceId;
    std::string Source;
    std::string Description;
    TFailureKind Kind = TFailureKind::General;
    int32_t SystemErrorCode = 0;  // errno behind a port or file failure; 0 when none
    std::string Parameter;        // the refused argument's parameter ("Channel"); empty when none
};
// Records the details of the failure just reported (after SetPulsynErrorInfo).
void SetFailureDetails(TFailureKind kind, int32_t systemErrorCode, const std::string& parameter = {});
// The record of the last failure on this thread; empty strings when none.
const TErrorInfoRecord& LastErrorInfo();
void ClearErrorInfo();
#endif

}  // namespace quor

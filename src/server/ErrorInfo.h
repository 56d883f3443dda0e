// The calling thread's automation error information: what a client reads after a failed
// call (Err.Description in VBScript, the exception message in Python or C#).
#pragma once

#include <string>

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
};
// The record of the last failure on this thread; empty strings when none.
const TErrorInfoRecord& LastErrorInfo();
void ClearErrorInfo();
#endif

}  // namespace quor

// Platform half of CommInt: the device calls of the serial port.
//
// Errors, in this layer: a call that can fail says so by its result (false, or
// kTransferFailed for a transfer) and puts the system's error code in `error`; nothing here
// throws. Calls whose failure changes nothing for the caller (the queue counts of a closed
// handle) report nothing. TCustomComm turns failures into exceptions.
#pragma once

#include <cstdint>
#include <string>

#include "serial/CommInt.h"

namespace quor::platform {

struct TComStat {
    uint32_t Errors = 0;  // CE_ bits
    uint32_t InQue = 0;
    uint32_t OutQue = 0;
    uint8_t Hold = 0;  // bit 0 CTS hold, 1 DSR hold, 2 RLSD hold, 3 XOFF hold, 4 XOFF sent
};

// The error code of an argument the system refuses (ERROR_INVALID_PARAMETER, EINVAL).
extern const int32_t kInvalidParameterError;
// The error code of a driver that has no modem lines to set (ERROR_NOT_SUPPORTED). POSIX
// reports none: setting a line a terminal lacks succeeds there (see ModemLineCall).
extern const int32_t kNoModemLinesError;

// Opens the device exclusively for overlapped (non-blocking) use; kInvalidHandle on failure.
THandle OpenComm(const std::string& name, int32_t& error);
// The fixed text of the failure to open the device `name` with the system's `error`: on
// Windows "Error accessing specified device"; on POSIX that text naming the device, with
// advice for a missing device, a refused permission and a device in use.
std::string OpenFailureText(const std::string& name, int32_t error);
// True when the handle is a communications (terminal) device.
bool IsCommDevice(THandle handle);
// The fixed text of the failure for a device `name` that opened but is no communications
// device, and the system's code for it in `error`: on Windows "Invalid device handle, access
// denied" (-1); on POSIX a text that names the device, says what it is and what to open
// instead, with ENOTTY.
std::string NotCommDeviceText(THandle handle, const std::string& name, int32_t& error);
void CloseComm(THandle handle);
// Reads complete at once with what has arrived; writes have no time limit of their own.
bool SetPollingTimeouts(THandle handle, int32_t& error);
void GetCommDCB(THandle handle, TCommDCB& dcb);
bool SetCommDCB(THandle handle, const TCommDCB& dcb, int32_t& error);
bool SetupBuffers(THandle handle, int32_t readSize, int32_t writeSize, int32_t& error);

constexpr int32_t kTransferFailed = -2;
// Writes or reads; returns the bytes transferred, -1 when the transfer did not complete
// within `timeout` ms (it is cancelled and finished before this returns; `movedBefore` then
// holds the bytes it had moved all the same, which for a write may have gone out), or
// kTransferFailed when the system refused it at once.
int32_t Transfer(THandle handle, TSimpleEvent& event, bool writing, void* buf, int32_t count, uint32_t timeout,
                 int32_t& error, int32_t& movedBefore);
// Fills `stat` and resets the driver's error state; leaves `stat` all zero and returns false
// when the driver cannot say.
bool ClearErrors(THandle handle, TComStat& stat);
// The bytes in the input queue; 0 when the driver cannot say. Where ClearErrors is the only
// way to ask, the line errors it collected are added to `lineErrors`.
uint32_t InputQueued(THandle handle, uint32_t& lineErrors);
// Discards the queues `flags` name (tcflush, PurgeComm); false with the system's code when
// the driver refused, and what it held may then still go out.
bool Purge(THandle handle, uint32_t flags, int32_t& error);
bool Escape(THandle handle, uint32_t function, int32_t& error);
bool ModemStatus(THandle handle, uint32_t& status);
// True when the device behind an open handle has gone (a pulled USB adapter, a hung-up
// terminal): it will never carry a byte again.
bool DeviceGone(THandle handle);
// The descriptor that the main thread's wait can watch for input on the device (POSIX),
// or -1 where input is only reported by the event thread (Windows).
int InputDescriptor(THandle handle);

}  // namespace quor::platform

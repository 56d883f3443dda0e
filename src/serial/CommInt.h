// CommInt: a serial port component over the operating system's communications interface.
// DRAFT INTERFACE: the serial port work owns this file and may refine it; the device link
// codes against the names below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Exceptions.h"

namespace quor {

enum TBaudrate : uint8_t { br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
                           br56000, br57600, br115200, br128000, br256000 };
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : uint8_t { sb10, sb15, sb20 };
enum TDatabits : uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : uint8_t { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType : uint8_t { evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty };
using TCommOptions = uint8_t;      // bit n = TCommOption n
using TCommEventTypes = uint16_t;  // bit n = TCommEventType n
constexpr TCommEventTypes kAllCommEvents = 0x1FF;

class TCustomComm;
using TNotifyEvent = std::function<void(TCustomComm* Sender)>;
using TCommRxCharEvent = std::function<void(TCustomComm* Sender, int32_t Count)>;
using TCommErrorEvent = std::function<void(TCustomComm* Sender, int32_t Errors)>;

class ECommError : public Exception {
public:
    ECommError(const std::string& message, int32_t code) : Exception(message), ErrorCode(code) {}
    int32_t ErrorCode;
};
// Raises ECommError: Message + " (Error: <Code>) ", ErrorCode = Code.
[[noreturn]] void RaiseCommError(const std::string& Message, int32_t Code);

class TCustomComm {
public:
    TCustomComm();
    virtual ~TCustomComm();

    void Open();
    void Close();
    bool Enabled() const;
    int32_t Write(const void* Buf, int32_t Count);
    int32_t Read(void* Buf, int32_t Count);
    int32_t InQueCount();
    int32_t OutQueCount();
    void PurgeIn();
    void PurgeOut();
    void SetDTRState(bool State);
    void SetRTSState(bool State);
    void SetBREAKState(bool State);
    void SetXONState(bool State);

    // Properties: X() reads, SetX(v) writes with the write rule of the property.
    const std::string& DeviceName() const;   // UTF-8; "\\.\COM5" on Windows, "/dev/ttyACM0" on POSIX
    void SetDeviceName(const std::string& Value);
    int32_t ReadTimeout() const;   void SetReadTimeout(int32_t Value);
    int32_t WriteTimeout() const;  void SetWriteTimeout(int32_t Value);
    int32_t ReadBufSize() const;   void SetReadBufSize(int32_t Value);
    int32_t WriteBufSize() const;  void SetWriteBufSize(int32_t Value);
    TCommEventTypes MonitorEvents() const; void SetMonitorEvents(TCommEventTypes Value);
    TBaudrate BaudRate() const;    void SetBaudRate(TBaudrate Value);
    TParity Parity() const;        void SetParity(TParity Value);
    TStopbits Stopbits() const;    void SetStopbits(TStopbits Value);
    TDatabits Databits() const;    void SetDatabits(TDatabits Value);
    TCommOptions Options() const;  void SetOptions(TCommOptions Value);
    TFlowControl FlowControl() const; void SetFlowControl(TFlowControl Value);

    void SetOnRxChar(TCommRxCharEvent Handler);
    void SetOnError(TCommErrorEvent Handler);
    // ... OnBreak, OnCts, OnDsr, OnRing, OnRlsd, OnRxFlag, OnTxEmpty likewise (TNotifyEvent)
};

class TComm : public TCustomComm {};

}  // namespace quor

// Exception types shared by every module: a base exception that carries a message, and the
// conversion error raised when text is not the number a caller expected.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quor {

// What kind of failure an exception reports, for clients that tell kinds apart (the Python
// module raises an exception class per kind). The message is the same whatever the kind.
enum class TFailureKind {
    General,
    Refused,       // an argument the library refuses; nothing was sent
    Port,          // the serial port failed (opening, a transfer); SystemErrorCode says why
    NotConnected,  // the object has no open connection
    PortLost,      // the connected device went away
    NoReply,       // the stimulator did not answer in time (only where the client asks for it)
    Interrupted,   // the client's interrupt check stopped a wait
};

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message, TFailureKind kind = TFailureKind::General)
        : std::runtime_error(message), FKind(kind) {}
    std::string Message() const { return what(); }
    TFailureKind Kind() const { return FKind; }
    // The system's error code behind the failure (errno natively); 0 when there is none.
    virtual int32_t SystemErrorCode() const { return 0; }
    // Automation status that the exception asks the automation boundary to return
    // instead of the generic failure; 0 when it carries none.
    virtual int32_t StatusCode() const { return 0; }

private:
    TFailureKind FKind;
};

// Text that is not a number of the expected kind.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Messages of the two conversions, with the offending text in place.
std::string InvalidIntegerMessage(const std::string& text);
std::string InvalidFloatMessage(const std::string& text);

}  // namespace quor

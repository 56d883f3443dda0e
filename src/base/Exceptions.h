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
    File,          // a file the library was asked to write could not be; SystemErrorCode says why
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
    // The parameter a refused argument was passed for, by its automation name ("Channel");
    // empty when the failure concerns no single parameter.
    virtual std::string Parameter() const { return {}; }

private:
    TFailureKind FKind;
};

// An argument the library refuses before anything is sent, with the parameter it was for.
class EArgumentRefused : public Exception {
public:
    EArgumentRefused(const std::string& message, std::string parameter)
        : Exception(message, TFailureKind::Refused), FParameter(std::move(parameter)) {}
    std::string Parameter() const override { return FParameter; }

private:
    std::string FParameter;
};

// A failure the system reported, with its error code (errno natively).
class ESystemError : public Exception {
public:
    ESystemError(const std::string& message, TFailureKind kind, int32_t code) : Exception(message, kind), FCode(code) {}
    int32_t SystemErrorCode() const override { return FCode; }

private:
    int32_t FCode;
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

// Exception types shared by every module: a base exception that carries a message, and the
// conversion error raised when text is not the number a caller expected.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quor {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
    // Automation status that the exception asks the automation boundary to return
    // instead of the generic failure; 0 when it carries none.
    virtual int32_t StatusCode() const { return 0; }
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

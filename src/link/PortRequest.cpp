#include "PortRequest.h"

#include "base/Exceptions.h"
#include "base/TextConvert.h"

namespace quor {

namespace {

bool IsDecimal(const std::string& digits) {
    // Nine digits at most, so that the number fits the 32-bit port number.
    if (digits.empty() || digits.size() > 9) return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

TPortRequest ParsePortRequest(const std::string& text) {
    TPortRequest request;
    if (text.size() > 3 && EqualsIgnoringAsciiCase(std::string_view(text).substr(0, 3), "COM") &&
        IsDecimal(text.substr(3)) && StrToInt(text.substr(3)) > 0) {
        request.Number = StrToInt(text.substr(3));
    } else if (text.size() > 1 && text[0] == '/') {
        request.Device = text;
    } else {
        throw Exception("\"" + text +
                        "\" is not a port: name the stimulator's port as COM1, COM2, ... (e.g. \"COM7\") "
                        "or by its device path (e.g. \"/dev/ttyACM0\").");
    }
    return request;
}

}  // namespace quor

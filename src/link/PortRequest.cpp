#include "PortRequest.h"

#include "base/Exceptions.h"
#include "link/PortNames.h"

namespace quor {

TPortRequest ParsePortRequest(const std::string& text) {
    TPortRequest request;
    if (const std::optional<int32_t> number = ComPortNumber(text)) {
        request.Number = *number;
    } else if (text.size() > 1 && text.find('/') != std::string::npos) {
        // A relative path ("./ttyUSB0", "../by-id/...") names the same device as its absolute one.
        request.Device = text;
    } else {
        throw Exception("\"" + text +
                        "\" is not a port: name the stimulator's port as COM1, COM2, ... (e.g. \"COM7\") "
                        "or by its device path (e.g. \"/dev/ttyACM0\").",
                        TFailureKind::Refused);
    }
    return request;
}

}  // namespace quor

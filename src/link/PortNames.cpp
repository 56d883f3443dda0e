#include "PortNames.h"

#include "PortNamesPlatform.h"
#include "base/TextConvert.h"

namespace quor {

std::string CandidateName(int port) { return "\\\\.\\COM" + std::to_string(port); }

std::optional<int32_t> ComPortNumber(std::string_view name) {
    if (name.size() < 4 || !EqualsIgnoringAsciiCase(name.substr(0, 3), "COM")) return std::nullopt;
    const std::string_view digits = name.substr(3);
    // Nine digits at most, so that every number fits a port number.
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const std::optional<int32_t> number = ParseInt32(digits);
    if (!number || *number <= 0) return std::nullopt;
    return number;
}

std::vector<std::string> ListVCPPorts() {
    std::vector<std::string> candidates;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        if (platform::IsVirtualSerialPort(port)) candidates.push_back(CandidateName(port));
    }
    return candidates;
}

}  // namespace quor

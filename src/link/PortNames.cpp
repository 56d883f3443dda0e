#include "PortNames.h"

#include "PortNamesPlatform.h"

namespace quor {

std::string CandidateName(int port) { return "\\\\.\\COM" + std::to_string(port); }

std::vector<std::string> ListVCPPorts() {
    std::vector<std::string> candidates;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        if (platform::IsVirtualSerialPort(port)) candidates.push_back(CandidateName(port));
    }
    return candidates;
}

}  // namespace quor

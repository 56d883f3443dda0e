#include <sys/stat.h>

#include <cstdlib>

#include "PortNames.h"
#include "PortNamesPlatform.h"

namespace quor {

std::string PortDeviceName(int port) {
    const std::string variable = "QUORLIB_COM" + std::to_string(port);
    if (const char* configured = std::getenv(variable.c_str()); configured && *configured) return configured;
    return "/dev/ttyACM" + std::to_string(port - 1);
}

void SetDosDeviceQueryForTesting(DosDeviceQuery) {}

namespace platform {
bool IsVirtualSerialPort(int port) {
    struct stat info {};
    return stat(PortDeviceName(port).c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}
}  // namespace platform

}  // namespace quor

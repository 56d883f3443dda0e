#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>

#include "PortNames.h"
#include "PortNamesPlatform.h"

namespace quor {

std::string PortDeviceName(int port) {
    const std::string variable = "QUORLIB_COM" + std::to_string(port);
    if (const char* configured = std::getenv(variable.c_str()); configured && *configured) return configured;
    return "/dev/ttyACM" + std::to_string(port - 1);
}

std::string DeviceKey(const std::string& device) {
    struct stat info {};
    if (stat(device.c_str(), &info) == 0 && S_ISCHR(info.st_mode))
        return "device " + std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
    if (char* resolved = realpath(device.c_str(), nullptr)) {
        std::string path = resolved;
        std::free(resolved);
        return path;
    }
    return device;
}

void SetDosDeviceQueryForTesting(DosDeviceQuery) {}

namespace platform {
bool IsVirtualSerialPort(int port) {
    struct stat info {};
    return stat(PortDeviceName(port).c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}
}  // namespace platform

}  // namespace quor

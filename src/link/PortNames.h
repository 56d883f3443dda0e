// Which devices the port numbers of the device link name.
//
// Windows: port n is the device "\\.\COMn"; a port is a stimulator candidate when its DOS
// device target begins with "\Device\VCP" (a USB virtual serial port).
// POSIX: port n is the device named by the environment variable QUORLIB_COMn when it is
// set (e.g. QUORLIB_COM3=/dev/ttyUSB0), else /dev/ttyACM<n-1> (USB CDC serial devices,
// as the stimulator's virtual serial port appears on Linux); a port is a candidate when
// that device exists and is a character device.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quor {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 24;

// "\\.\COM" + n: the candidate name used by the port search on every system.
std::string CandidateName(int port);
// The device name the serial port opens for port n.
std::string PortDeviceName(int port);

// The number n of a port that a user names "COMn" (any case; n of one to nine decimal digits
// and not 0); none for any other text.
std::optional<int32_t> ComPortNumber(std::string_view name);

// What tells one device from another, whatever name opened it: natively its device number
// (so /dev/serial/by-id/... and the /dev/ttyACM0 it links to are one device), else its
// resolved path; on Windows the port's number ("COM7", "com07" and "\\.\COM7" are one).
std::string DeviceKey(const std::string& device);

// The candidate ports COM1 to COM24, ascending, as "\\.\COMn" names.
std::vector<std::string> ListVCPPorts();

// Windows only: the DOS device query used by ListVCPPorts (QueryDosDeviceA by default).
// Tests feed their own, since no USB virtual serial port exists on a test machine.
using DosDeviceQuery = std::function<uint32_t(const char* deviceName, char* target, uint32_t targetSize)>;
void SetDosDeviceQueryForTesting(DosDeviceQuery query);

}  // namespace quor

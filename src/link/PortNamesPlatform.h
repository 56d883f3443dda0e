#pragma once

namespace quor::platform {
// Whether port n is a USB virtual serial port that the port search should try.
bool IsVirtualSerialPort(int port);
}  // namespace quor::platform

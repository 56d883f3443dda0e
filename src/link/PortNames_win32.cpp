#include <windows.h>

#include <mutex>

#include "PortNames.h"
#include "PortNamesPlatform.h"

namespace quor {

namespace {
std::mutex g_mutex;
DosDeviceQuery g_query;

uint32_t QueryDosDevice(const char* name, char* target, uint32_t size) {
    DosDeviceQuery query;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        query = g_query;
    }
    if (query) return query(name, target, size);
    return QueryDosDeviceA(name, target, size);
}
}  // namespace

std::string PortDeviceName(int port) { return CandidateName(port); }

std::string DeviceKey(const std::string& device) {
    std::string_view name = device;
    if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
    if (const std::optional<int32_t> number = ComPortNumber(name)) return CandidateName(*number);
    std::string key = device;
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

void SetDosDeviceQueryForTesting(DosDeviceQuery query) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_query = std::move(query);
}

namespace platform {
bool IsVirtualSerialPort(int port) {
    char target[101] = {};
    const std::string name = "COM" + std::to_string(port);
    const uint32_t stored = QueryDosDevice(name.c_str(), target, sizeof target);
    if (stored <= 13) return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, target, 11, "\\Device\\VCP", 11) == CSTR_EQUAL;
}
}  // namespace platform

}  // namespace quor

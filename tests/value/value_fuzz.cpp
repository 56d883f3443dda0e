// Feeds arbitrary bytes to the device number readers: they may refuse a text with
// EConvertError, never crash, hang or throw anything else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Exceptions.h"
#include "value/QuorClasses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    quor::TQuorValue value;
    try {
        value.SetPulsynValue(text);
    } catch (const quor::EConvertError&) {
        return 0;
    }
    (void)value.PulsynValue();
    try { (void)value.AsDouble(); } catch (const quor::EConvertError&) {}
    try { (void)value.AsDouble2(); } catch (const quor::EConvertError&) {}
    value.Clear();
    (void)value.AsDouble2();
    return 0;
}

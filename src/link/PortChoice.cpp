#include "PortChoice.h"

#include <string>

#include "base/Exceptions.h"
#include "base/HostInfo.h"
#include "base/TextConvert.h"
#include "link/PortNames.h"

namespace quor {

namespace {

bool StartsWithComIgnoringCase(std::string_view text) {
    return text.size() >= 3 && EqualsIgnoringAsciiCase(text.substr(0, 3), "COM");
}

// QUORLIB_PORT=COM7 (any case, blanks around it allowed). A value that names no port is
// refused rather than searched past: the user set it to pick one device among several.
int32_t PortFromEnvironment() {
    const std::string value = HostEnvironmentVariable(kPortVariable);
    const std::string_view text = TrimControl(value);
    if (text.empty()) return 0;
    if (const std::optional<int32_t> number = ComPortNumber(text)) return *number;
    throw Exception(std::string("The environment variable ") + kPortVariable + " is \"" + value +
                    "\", which names no port: set it to the stimulator's port, e.g. COM7, or remove it to let "
                    "QuorLib search for the stimulator.");
}

}  // namespace

int32_t PortNamedByHost() {
    int32_t port = 0;
    bool named = false;
    for (const std::string& argument : HostArguments()) {
        if (StartsWithComIgnoringCase(argument)) {
            port = StrToInt(argument.substr(3));
            named = true;
        }
    }
    return named ? port : PortFromEnvironment();
}

}  // namespace quor

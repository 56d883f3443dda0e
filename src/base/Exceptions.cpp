#include "Exceptions.h"

namespace quor {

std::string InvalidIntegerMessage(const std::string& text) {
    return "''" + text + "'' is not a valid integer value";
}

std::string InvalidFloatMessage(const std::string& text) {
    return "'" + text + "' is not a valid floating point value";
}

}  // namespace quor

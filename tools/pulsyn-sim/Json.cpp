#include "Json.h"

#include <cmath>

namespace pulsyn_sim::json {

Json Bytes(std::string_view bytes) {
    std::string utf8;
    utf8.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::optional<std::string> ToBytes(const Json& value) {
    if (!value.is_string()) return std::nullopt;
    const auto& utf8 = value.get_ref<const std::string&>();
    std::string bytes;
    bytes.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            bytes += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

Json Seconds(double t) { return std::isfinite(t) ? Json(std::round(t * 1e6) / 1e6) : Json(nullptr); }

std::string Text(const Json& value) {
    // Strings made by Bytes() are valid UTF-8; "replace" keeps a stray one from ending the
    // program in the middle of an answer.
    return value.dump(-1, ' ', true, Json::error_handler_t::replace);
}

std::optional<Json> Parse(std::string_view text) {
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

}  // namespace pulsyn_sim::json

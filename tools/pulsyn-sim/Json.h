// The simulator's observations as JSON (state, frames, transcript lines, control answers),
// with nlohmann-json. Objects keep their fields in the order written, so a line reads the
// same way every time.
//
// Device bytes are 8-bit; in JSON strings each byte is the code point of the same value
// (0x00-0xFF), so "\u00e9" stands for the byte 0xE9 and nothing is lost. Every string that
// goes in passes through Bytes(); a reader gets the bytes back with ToBytes().
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace pulsyn_sim::json {

using Json = nlohmann::ordered_json;

// The bytes as a JSON string value (each byte the code point of its value).
Json Bytes(std::string_view bytes);
// The bytes of a string value written by Bytes(); nullopt for anything else (not a string,
// or a code point above 0xFF, which the simulator never writes).
std::optional<std::string> ToBytes(const Json& value);
// A time stamp in seconds, to the microsecond.
Json Seconds(double t);
// One line of ASCII JSON text ("\u00e9" for the byte 0xE9).
std::string Text(const Json& value);
// One JSON text; nullopt when it is not well-formed JSON.
std::optional<Json> Parse(std::string_view text);

}  // namespace pulsyn_sim::json

// Small JSON toolkit for the simulator's observations: a writer for the one-line objects it
// prints (state, frames, transcript lines, control answers) and a reader that clients and
// tests use to take those lines apart again.
//
// Device bytes are 8-bit; in JSON strings each byte is the code point of the same value
// (0x00-0xFF), so "\u00e9" stands for the byte 0xE9 and nothing is lost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pulsyn_sim::json {

// The bytes as a quoted JSON string.
std::string Quote(std::string_view bytes);
// A number in JSON form, independent of the host's locale ("." as decimal point).
std::string Number(double value);
// A number with a fixed count of decimals, e.g. time stamps in seconds with 6 decimals.
std::string Fixed(double value, int decimals);

// Builds one JSON object field by field, in the order given.
class ObjectWriter {
public:
    ObjectWriter& Str(std::string_view key, std::string_view value);
    ObjectWriter& Int(std::string_view key, int64_t value);
    ObjectWriter& Num(std::string_view key, double value);
    ObjectWriter& Bool(std::string_view key, bool value);
    ObjectWriter& Null(std::string_view key);
    // A value that is already JSON text (an object, an array, ...).
    ObjectWriter& Raw(std::string_view key, std::string_view json);
    std::string Done() const { return text_ + "}"; }

private:
    ObjectWriter& Key(std::string_view key);
    std::string text_ = "{";
};

// Joins JSON values into an array.
std::string Array(const std::vector<std::string>& json_values);
std::string StringArray(const std::vector<std::string>& strings);

// A parsed JSON value.
struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;  // bytes, as Quote wrote them
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> fields;  // in document order

    bool IsNull() const { return type == Type::Null; }
    // Member of an object; a null value when absent.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](size_t index) const;
    size_t size() const { return type == Type::Array ? items.size() : fields.size(); }
    bool Has(std::string_view key) const;
};

// Parses one JSON text; nullopt when it is not well-formed JSON (with nothing but blanks
// after it). Code points above 0xFF are refused: the simulator never writes them.
std::optional<Value> Parse(std::string_view text);

}  // namespace pulsyn_sim::json

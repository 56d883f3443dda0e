#include "Json.h"

#include <charconv>
#include <cmath>

namespace pulsyn_sim::json {

std::string Quote(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7f) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string Number(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : "null";
}

std::string Fixed(double value, int decimals) {
    if (!std::isfinite(value)) return "null";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buf, end) : "null";
}

ObjectWriter& ObjectWriter::Key(std::string_view key) {
    if (text_.size() > 1) text_ += ',';
    text_ += Quote(key);
    text_ += ':';
    return *this;
}
ObjectWriter& ObjectWriter::Str(std::string_view key, std::string_view value) {
    Key(key).text_ += Quote(value);
    return *this;
}
ObjectWriter& ObjectWriter::Int(std::string_view key, int64_t value) {
    Key(key).text_ += std::to_string(value);
    return *this;
}
ObjectWriter& ObjectWriter::Num(std::string_view key, double value) {
    Key(key).text_ += Number(value);
    return *this;
}
ObjectWriter& ObjectWriter::Bool(std::string_view key, bool value) {
    Key(key).text_ += value ? "true" : "false";
    return *this;
}
ObjectWriter& ObjectWriter::Null(std::string_view key) {
    Key(key).text_ += "null";
    return *this;
}
ObjectWriter& ObjectWriter::Raw(std::string_view key, std::string_view json) {
    Key(key).text_ += json;
    return *this;
}

std::string Array(const std::vector<std::string>& json_values) {
    std::string out = "[";
    for (size_t i = 0; i < json_values.size(); ++i) {
        if (i) out += ',';
        out += json_values[i];
    }
    return out + "]";
}

std::string StringArray(const std::vector<std::string>& strings) {
    std::string out = "[";
    for (size_t i = 0; i < strings.size(); ++i) {
        if (i) out += ',';
        out += Quote(strings[i]);
    }
    return out + "]";
}

namespace {

const Value kNull;

class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    std::optional<Value> Document() {
        Value v;
        if (!ReadValue(v, 0)) return std::nullopt;
        SkipBlanks();
        if (i_ != s_.size()) return std::nullopt;
        return v;
    }

private:
    void SkipBlanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
    }
    bool Literal(std::string_view word) {
        if (s_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }
    bool ReadValue(Value& v, int depth) {
        if (depth > 64) return false;
        SkipBlanks();
        if (i_ >= s_.size()) return false;
        char c = s_[i_];
        if (c == '{') return ReadObject(v, depth);
        if (c == '[') return ReadArray(v, depth);
        if (c == '"') {
            v.type = Value::Type::String;
            return ReadString(v.string);
        }
        if (Literal("true")) {
            v.type = Value::Type::Bool;
            v.boolean = true;
            return true;
        }
        if (Literal("false")) {
            v.type = Value::Type::Bool;
            return true;
        }
        if (Literal("null")) return true;
        return ReadNumber(v);
    }
    bool ReadNumber(Value& v) {
        size_t start = i_;
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        size_t digits = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        if (i_ == digits) return false;
        if (i_ < s_.size() && s_[i_] == '.') {
            size_t frac = ++i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            if (i_ == frac) return false;
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            size_t exp = i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            if (i_ == exp) return false;
        }
        auto [end, ec] = std::from_chars(s_.data() + start, s_.data() + i_, v.number);
        if (ec != std::errc() || end != s_.data() + i_) return false;
        v.type = Value::Type::Number;
        return true;
    }
    static int HexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    bool ReadString(std::string& out) {
        ++i_;  // opening quote
        while (i_ < s_.size()) {
            auto c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (i_ >= s_.size()) return false;
            char e = s_[i_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (i_ + 4 > s_.size()) return false;
                    int code = 0;
                    for (int k = 0; k < 4; ++k) {
                        int d = HexDigit(s_[i_++]);
                        if (d < 0) return false;
                        code = code * 16 + d;
                    }
                    if (code > 0xff) return false;
                    out += static_cast<char>(code);
                    break;
                }
                default: return false;
            }
        }
        return false;
    }
    bool ReadArray(Value& v, int depth) {
        v.type = Value::Type::Array;
        ++i_;
        SkipBlanks();
        if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
        for (;;) {
            Value item;
            if (!ReadValue(item, depth + 1)) return false;
            v.items.push_back(std::move(item));
            SkipBlanks();
            if (i_ >= s_.size()) return false;
            char c = s_[i_++];
            if (c == ']') return true;
            if (c != ',') return false;
        }
    }
    bool ReadObject(Value& v, int depth) {
        v.type = Value::Type::Object;
        ++i_;
        SkipBlanks();
        if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
        for (;;) {
            SkipBlanks();
            if (i_ >= s_.size() || s_[i_] != '"') return false;
            std::string key;
            if (!ReadString(key)) return false;
            SkipBlanks();
            if (i_ >= s_.size() || s_[i_++] != ':') return false;
            Value item;
            if (!ReadValue(item, depth + 1)) return false;
            v.fields.emplace_back(std::move(key), std::move(item));
            SkipBlanks();
            if (i_ >= s_.size()) return false;
            char c = s_[i_++];
            if (c == '}') return true;
            if (c != ',') return false;
        }
    }

    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

const Value& Value::operator[](std::string_view key) const {
    for (const auto& [k, v] : fields)
        if (k == key) return v;
    return kNull;
}

const Value& Value::operator[](size_t index) const {
    return index < items.size() ? items[index] : kNull;
}

bool Value::Has(std::string_view key) const {
    for (const auto& field : fields)
        if (field.first == key) return true;
    return false;
}

std::optional<Value> Parse(std::string_view text) { return Reader(text).Document(); }

}  // namespace pulsyn_sim::json

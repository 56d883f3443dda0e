#include "Faults.h"

#include "Json.h"
#include "base/TextConvert.h"

namespace pulsyn_sim {

namespace {

std::optional<bool> OnOff(std::string_view value) {
    if (value.empty() || value == "on" || value == "1" || value == "true") return true;
    if (value == "off" || value == "0" || value == "false") return false;
    return std::nullopt;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<double> Milliseconds(std::string_view text) {
    auto v = quor::ParseFloat(text);
    if (!v || *v < 0 || *v > 3600e3) return std::nullopt;
    return v;
}

}  // namespace

std::optional<std::string> DecodeEscapes(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        if (i + 3 >= text.size() || text[i + 1] != 'x') return std::nullopt;
        int hi = HexValue(text[i + 2]), lo = HexValue(text[i + 3]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 3;
    }
    return out;
}

std::string Faults::Apply(std::string_view spec) {
    size_t eq = spec.find('=');
    std::string_view name = spec.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : spec.substr(eq + 1);
    const bool has_value = eq != std::string_view::npos;
    const bool off = value == "off";
    auto bad = [&] { return "bad value for " + std::string(name) + ": " + std::string(value); };

    if (name == "silence" || name == "pace" || name == "echo" || name == "answer-all" || name == "hold") {
        auto on = OnOff(value);
        if (!on) return bad();
        (name == "silence" ? silence : name == "pace" ? pace : name == "echo" ? echo : name == "hold" ? hold : answer_all) = *on;
    } else if (name == "stall") {
        auto ms = off ? std::optional<double>(0) : Milliseconds(value);
        if (!ms) return bad();
        stall_ms = *ms;
    } else if (name == "no-echo") {
        if (has_value) return bad();
        echo = false;
    } else if (name == "stream") {
        auto rate = off ? std::optional<double>(0) : has_value ? quor::ParseFloat(value) : std::optional<double>(3840);
        if (!rate || *rate < 0 || *rate > 1e7) return bad();
        stream_rate = *rate;
    } else if (name == "delay") {
        auto ms = off ? std::optional<double>(0) : Milliseconds(value);
        if (!ms) return bad();
        delay_ms = *ms;
    } else if (name == "noise") {
        if (off) {
            noise.clear();
        } else {
            auto text = has_value ? DecodeEscapes(value) : std::optional<std::string>("#~");
            if (!text || text->empty()) return bad();
            noise = *text;
        }
    } else if (name == "split") {
        if (off) {
            split_size = 0;
            split_gap_ms = 0;
        } else {
            std::string_view size = value.substr(0, value.find('/'));
            auto n = quor::ParseInt32(size);
            std::optional<double> gap = 10;
            if (size.size() < value.size()) gap = Milliseconds(value.substr(size.size() + 1));
            if (!n || *n < 0 || !gap) return bad();
            split_size = *n;
            split_gap_ms = *n ? *gap : 0;
        }
    } else if (name == "bad-length") {
        if (off) {
            bad_length.reset();
        } else {
            auto text = has_value ? DecodeEscapes(value) : std::optional<std::string>("0x03");
            if (!text || text->size() != 4) return "bad-length takes four characters";
            bad_length = *text;
        }
    } else if (name == "wrong-length") {
        auto n = off ? std::optional<int32_t>(0) : quor::ParseInt32(value);
        if (!n || *n < -9999 || *n > 9999) return bad();
        length_offset = *n;
    } else if (name == "hangup") {
        if (off) {
            hangup_after.reset();
        } else {
            auto n = has_value ? quor::ParseInt32(value) : std::optional<int32_t>(3);
            if (!n || *n < 0) return bad();
            hangup_after = *n;
        }
    } else {
        return "unknown fault: " + std::string(name);
    }
    return {};
}

json::Json Faults::Json() const {
    return {{"silence", silence},
            {"delay_ms", delay_ms},
            {"noise", json::Bytes(noise)},
            {"split", {{"size", split_size}, {"gap_ms", split_gap_ms}}},
            {"bad_length", bad_length ? json::Bytes(*bad_length) : json::Json(nullptr)},
            {"length_offset", length_offset},
            {"hangup_after", hangup_after ? json::Json(*hangup_after) : json::Json(nullptr)},
            {"echo", echo},
            {"pace", pace},
            {"answer_all", answer_all},
            {"stream_rate", stream_rate},
            {"hold", hold},
            {"stall_ms", stall_ms}};
}

}  // namespace pulsyn_sim

#include "DeviceModel.h"

#include <cmath>
#include <cstring>

#include "Json.h"
#include "base/TextConvert.h"

namespace pulsyn_sim {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Channel digit 1..9; 0 when the character is none.
int ChannelDigit(char c) { return c >= '1' && c <= '9' ? c - '0' : 0; }

// Upper-case hexadecimal channel 1..12 as the link commands write it; 0 when none.
int HexChannel(char c) {
    if (c >= '1' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'C') return c - 'A' + 10;
    return 0;
}

Outcome Refuse(const char* reason) { return Outcome{std::string("ER:") + reason, std::nullopt}; }
Outcome Ok() { return Outcome{"OK.", std::nullopt}; }

constexpr char kQuantityLetters[kQuantityCount + 1] = "LDINVJ";
const char* const kQuantityNames[kQuantityCount] = {"delay", "duration", "interval",
                                                    "count", "voltage",  "step"};

}  // namespace

char QuantityLetter(Quantity q) { return kQuantityLetters[static_cast<int>(q)]; }
const char* QuantityName(Quantity q) { return kQuantityNames[static_cast<int>(q)]; }

std::optional<Quantity> QuantityFromName(std::string_view name) {
    for (int i = 0; i < kQuantityCount; ++i)
        if (name == kQuantityNames[i]) return static_cast<Quantity>(i);
    return std::nullopt;
}

std::optional<std::string> DeviceNumberProblem(std::string_view text) {
    if (text.size() != 9) return "number length";
    if (text[0] != '+' && text[0] != '-') return "number sign";
    // Mantissa: four digits and one point, the point after the first, second or third digit.
    std::string_view mantissa = text.substr(1, 5);
    size_t point = mantissa.find('.');
    if (point < 1 || point > 3 || mantissa.find('.', point + 1) != std::string_view::npos)
        return "mantissa";
    for (size_t i = 0; i < mantissa.size(); ++i)
        if (i != point && !IsDigit(mantissa[i])) return "mantissa";
    if (text[6] != 'E') return "exponent mark";
    if (text[7] != '+' && text[7] != '-') return "exponent sign";
    if (!IsDigit(text[8])) return "exponent digit";
    return std::nullopt;
}

double DeviceNumberValue(std::string_view text) {
    auto value = quor::ParseFloat(text);
    return value ? *value : std::nan("");
}

Outcome DeviceModel::Execute(std::string_view cmd, double t) {
    if (cmd.empty()) return Refuse("empty command");
    const char letter = cmd[0];

    if (letter == 'Y') {  // select paradigm
        if (cmd.size() != 2) return Refuse("bad format");
        int p = ChannelDigit(cmd[1]);
        if (!p) return Refuse("bad paradigm");
        selected = p;
        return Ok();
    }
    if (letter == 'E') {  // clear the selected paradigm
        if (cmd.size() != 1) return Refuse("bad format");
        current() = ParadigmState{};
        return Ok();
    }
    if (letter == 'G') {  // GP: read the selected paradigm
        if (cmd != "GP") return Refuse("unknown command");
        return Outcome{"OK." + std::to_string(selected), std::nullopt};
    }
    if (letter == 'C') {  // copy paradigm: C + source + destination
        if (cmd.size() != 3) return Refuse("bad format");
        int from = ChannelDigit(cmd[1]), to = ChannelDigit(cmd[2]);
        if (!from || !to) return Refuse("bad paradigm");
        if (from == to) return Refuse("same paradigm");
        paradigms[to - 1] = paradigms[from - 1];
        return Ok();
    }
    if (letter == 'M') {  // mode: M + mode letter + channel
        if (cmd.size() != 3) return Refuse("bad format");
        if (!std::strchr("OFNGCTW", cmd[1]) || cmd[1] == '\0') return Refuse("bad mode");
        int ch = ChannelDigit(cmd[2]);
        if (!ch) return Refuse("bad channel");
        current().channels[ch - 1].mode = cmd[1];
        return Ok();
    }
    if (letter == 'S') {  // shape: S + channel + shape letter
        if (cmd.size() != 3) return Refuse("bad format");
        int ch = ChannelDigit(cmd[1]);
        if (!ch) return Refuse("bad channel");
        if (!std::strchr("MBR", cmd[2]) || cmd[2] == '\0') return Refuse("bad shape");
        current().channels[ch - 1].shape = cmd[2];
        return Ok();
    }
    if (letter == 'T') {  // trigger a channel
        if (cmd.size() != 2) return Refuse("bad format");
        int ch = ChannelDigit(cmd[1]);
        if (!ch) return Refuse("bad channel");
        TriggerRecord record{t, ch, selected};
        triggers.push_back(record);
        return Outcome{"OK.", record};
    }
    if (letter == 'X' || letter == 'Z') {  // join / separate: first channel 1..9, second 1..C
        if (cmd.size() != 3) return Refuse("bad format");
        int first = HexChannel(cmd[1]), second = HexChannel(cmd[2]);
        if (!first || first > 9) return Refuse("bad first channel");
        if (!second) return Refuse("bad second channel");
        if (first == second) return Refuse("same channel");
        if (letter == 'X')
            current().links.insert({first, second});
        else
            current().links.erase({first, second});
        return Ok();
    }
    if (const char* q = std::strchr(kQuantityLetters, letter); q && letter != '\0') {
        // value: letter + channel + nine-character device number
        if (cmd.size() != 11) return Refuse("bad format");
        int ch = ChannelDigit(cmd[1]);
        if (!ch) return Refuse("bad channel");
        std::string_view number = cmd.substr(2);
        if (auto problem = DeviceNumberProblem(number)) return Outcome{"ER:bad number: " + *problem, {}};
        auto quantity = static_cast<Quantity>(q - kQuantityLetters);
        if (const auto& limit = limits[quantity]) {
            if (std::fabs(DeviceNumberValue(number)) > *limit) return Refuse("over limit");
        }
        current().channels[ch - 1].values[static_cast<int>(quantity)] = std::string(number);
        return Ok();
    }
    return Refuse("unknown command");
}

void DeviceModel::Reset() {
    selected = 1;
    paradigms = {};
    triggers.clear();
}

json::Json DeviceModel::TriggersJson() const {
    json::Json items = json::Json::array();
    for (const auto& tr : triggers)
        items.push_back({{"t", json::Seconds(tr.t)}, {"channel", tr.channel}, {"paradigm", tr.paradigm}});
    return items;
}

json::Json DeviceModel::LimitsJson() const {
    json::Json out = json::Json::object();
    for (int i = 0; i < kQuantityCount; ++i)
        if (limits.max_abs[i]) out[kQuantityNames[i]] = *limits.max_abs[i];
    return out;
}

std::string DeviceModel::Json() const {
    json::Json out = json::Json::object();
    WriteFields(out);
    return json::Text(out);
}

void DeviceModel::WriteFields(json::Json& out) const {
    json::Json ps = json::Json::array();
    for (int p = 1; p <= kParadigms; ++p) {
        const ParadigmState& paradigm = paradigms[p - 1];
        json::Json links = json::Json::array(), channels = json::Json::array();
        for (const auto& [a, b] : paradigm.links) links.push_back({a, b});
        for (int c = 1; c <= kChannels; ++c) {
            const ChannelState& ch = paradigm.channels[c - 1];
            json::Json channel = {{"channel", c},
                                  {"mode", json::Bytes(std::string(1, ch.mode))},
                                  {"shape", json::Bytes(std::string(1, ch.shape))}};
            for (int q = 0; q < kQuantityCount; ++q) channel[kQuantityNames[q]] = json::Bytes(ch.values[q]);
            channels.push_back(std::move(channel));
        }
        ps.push_back({{"number", p}, {"links", std::move(links)}, {"channels", std::move(channels)}});
    }
    out["paradigm"] = selected;
    out["paradigms"] = std::move(ps);
    out["triggers"] = TriggersJson();
    out["limits"] = LimitsJson();
}

}  // namespace pulsyn_sim

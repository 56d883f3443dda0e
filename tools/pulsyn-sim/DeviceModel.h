// The stimulator's inner state and its command set: nine paradigms of nine channels each,
// the links between channels, the selected paradigm, and the triggers fired. Every command is
// checked as strictly as the device does: a command that is not exactly right is refused with
// "ER:" and a short reason and changes nothing.
#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Json.h"

namespace pulsyn_sim {

// The six numeric quantities of a channel, each set by its own command letter.
enum class Quantity { Delay, Duration, Interval, Count, Voltage, Step };
constexpr int kQuantityCount = 6;
// Command letter: L D I N V J.
char QuantityLetter(Quantity q);
// Name used in JSON and options: delay duration interval count voltage step.
const char* QuantityName(Quantity q);
std::optional<Quantity> QuantityFromName(std::string_view name);

// Checks a nine-character device number text: sign, mantissa d.ddd | dd.dd | ddd.d, "E",
// exponent sign, one exponent digit. Returns nullopt when it is one, else a short reason.
std::optional<std::string> DeviceNumberProblem(std::string_view text);
// The value of a text that passed DeviceNumberProblem.
double DeviceNumberValue(std::string_view text);

constexpr int kParadigms = 9;
constexpr int kChannels = 9;
constexpr const char* kZeroNumber = "+0.000E+0";

struct ChannelState {
    char mode = 'O';   // O F N G C T W: off, free run, train, triggered, DC, gate, twin
    char shape = 'M';  // M B R: monopolar, bipolar, ramp
    // Device number texts exactly as received, indexed by Quantity.
    std::array<std::string, kQuantityCount> values{kZeroNumber, kZeroNumber, kZeroNumber,
                                                   kZeroNumber, kZeroNumber, kZeroNumber};
    const std::string& value(Quantity q) const { return values[static_cast<int>(q)]; }
    bool operator==(const ChannelState& o) const {
        return mode == o.mode && shape == o.shape && values == o.values;
    }
};

struct ParadigmState {
    std::array<ChannelState, kChannels> channels;
    // Links made by "X" (first channel 1..9, second 1..12), as ordered pairs.
    std::set<std::pair<int, int>> links;
    bool operator==(const ParadigmState& o) const { return channels == o.channels && links == o.links; }
};

struct TriggerRecord {
    double t = 0;  // seconds since the simulator started
    int channel = 0;
    int paradigm = 0;
};

// Largest magnitude the device accepts for a quantity; none by default.
struct Limits {
    std::array<std::optional<double>, kQuantityCount> max_abs;
    std::optional<double>& operator[](Quantity q) { return max_abs[static_cast<int>(q)]; }
    const std::optional<double>& operator[](Quantity q) const { return max_abs[static_cast<int>(q)]; }
};

// What the device made of one command.
struct Outcome {
    std::string payload;  // "OK.", "OK." + digit for GP, or "ER:" + reason
    bool accepted() const { return payload.rfind("OK.", 0) == 0; }
    std::optional<TriggerRecord> trigger;
};

class DeviceModel {
public:
    // Executes one command text, without the trailing "R" that asks for a reply.
    Outcome Execute(std::string_view command, double t);
    // Power-on state: paradigm 1 selected, every channel off with zero values, no links.
    // Triggers are forgotten; limits stay.
    void Reset();

    int selected = 1;  // 1..9
    std::array<ParadigmState, kParadigms> paradigms;
    std::vector<TriggerRecord> triggers;
    Limits limits;

    ParadigmState& current() { return paradigms[selected - 1]; }
    const ChannelState& channel(int paradigm, int channel) const {
        return paradigms[paradigm - 1].channels[channel - 1];
    }

    // {"paradigm":N,"paradigms":[{"number":1,"links":[[a,b],...],"channels":[{...},...]},...],
    //  "triggers":[{"t":..,"channel":..,"paradigm":..}],"limits":{"voltage":10,...}}
    std::string Json() const;
    // The same fields, added to an object under construction.
    void WriteFields(json::Json& out) const;
    json::Json TriggersJson() const;
    json::Json LimitsJson() const;
};

}  // namespace pulsyn_sim

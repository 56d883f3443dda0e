#include "Control.h"

#include <vector>

#include "Json.h"
#include "base/TextConvert.h"

namespace pulsyn_sim {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ') ++i;
        size_t start = i;
        while (i < line.size() && static_cast<unsigned char>(line[i]) > ' ') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string Error(std::string_view message) {
    return json::Text({{"ok", false}, {"error", json::Bytes(message)}});
}

// {"ok":true} and the fields given.
std::string Ok(const json::Json& fields = json::Json::object()) {
    json::Json answer = {{"ok", true}};
    answer.update(fields);
    return json::Text(answer);
}

// A text that is JSON already, as a value.
json::Json Parsed(const std::string& text) { return json::Parse(text).value_or(json::Json(nullptr)); }

const char* const kHelp[] = {
    "help",
    "path",
    "state",
    "frames",
    "transcript",
    "triggers   (t: when the frame was complete on the line)",
    "clock   (t now, and the same moment on the monotonic and the wall clock)",
    "faults",
    "fault SPEC [SPEC...]   silence delay=MS noise[=TEXT] split=SIZE[/MS] bad-length[=XXXX] "
    "wrong-length=DELTA hangup[=N] echo=on|off no-echo pace[=on|off] hold[=on|off] stall=MS; NAME=off switches "
    "one off",
    "clear",
    "limit NAME=MAX|off [...]   NAME: delay duration interval count voltage step",
    "reset",
    "reopen",
    "wait frames N [MS]",
    "wait triggers N [MS]",
    "wait idle [MS]",
    "quit",
};

}  // namespace

std::string Control::Execute(std::string_view line, bool* quit) {
    auto words = Words(line);
    if (words.empty()) return {};
    const std::string_view cmd = words[0];
    const size_t args = words.size() - 1;

    if (cmd == "help") {
        return Ok({{"commands", std::vector<std::string>(std::begin(kHelp), std::end(kHelp))}});
    }
    if (cmd == "path") return Ok({{"path", json::Bytes(sim_.ClientPath())}, {"hung_up", sim_.HungUp()}});
    if (cmd == "state") return Ok({{"state", Parsed(sim_.StateJson())}});
    if (cmd == "frames") return Ok({{"frames", Parsed(sim_.FramesJson())}});
    if (cmd == "transcript") return Ok({{"transcript", Parsed(sim_.TranscriptJson())}});
    if (cmd == "triggers") {
        DeviceModel model;
        model.triggers = sim_.Triggers();
        return Ok({{"triggers", model.TriggersJson()}});
    }
    if (cmd == "clock") {
        const auto now = sim_.ReadClock();
        return Ok({{"clock",
                    {{"t", json::Seconds(now.t)}, {"monotonic", json::Seconds(now.monotonic)},
                     {"wall", json::Seconds(now.wall)}}}});
    }
    if (cmd == "faults") return Ok({{"faults", sim_.GetFaults().Json()}});
    if (cmd == "fault") {
        if (!args) return Error("fault needs at least one SPEC, e.g. fault delay=200");
        // All or nothing: a bad SPEC leaves the faults as they were.
        Faults faults = sim_.GetFaults();
        for (size_t i = 1; i < words.size(); ++i) {
            std::string error = faults.Apply(words[i]);
            if (!error.empty()) return Error(error);
        }
        sim_.SetFaults(faults);
        return Ok({{"faults", faults.Json()}});
    }
    if (cmd == "clear") {
        sim_.ClearFaults();
        return Ok({{"faults", sim_.GetFaults().Json()}});
    }
    if (cmd == "limit" || cmd == "limits") {
        std::vector<std::pair<Quantity, std::optional<double>>> changes;
        for (size_t i = 1; i < words.size(); ++i) {
            std::string_view spec = words[i];
            size_t eq = spec.find('=');
            auto quantity = QuantityFromName(spec.substr(0, eq));
            if (!quantity || eq == std::string_view::npos)
                return Error("limit takes NAME=MAX or NAME=off: " + std::string(spec));
            std::string_view value = spec.substr(eq + 1);
            if (value == "off") {
                changes.emplace_back(*quantity, std::nullopt);
                continue;
            }
            auto max = quor::ParseFloat(value);
            if (!max || *max < 0) return Error("bad limit: " + std::string(spec));
            changes.emplace_back(*quantity, max);
        }
        for (const auto& [quantity, max] : changes) sim_.SetLimit(quantity, max);
        DeviceModel model;
        model.limits = sim_.GetLimits();
        return Ok({{"limits", model.LimitsJson()}});
    }
    if (cmd == "reset") {
        sim_.Reset();
        return Ok();
    }
    if (cmd == "reopen") {
        try {
            return Ok({{"path", json::Bytes(sim_.Reopen())}});
        } catch (const std::exception& e) {
            return Error(e.what());
        }
    }
    if (cmd == "wait") {
        if (!args) return Error("wait frames N [MS] | wait triggers N [MS] | wait idle [MS]");
        const std::string_view what = words[1];
        const bool counted = what == "frames" || what == "triggers";
        if (!counted && what != "idle") return Error("wait for frames, triggers or idle");
        std::optional<int32_t> n = 0;
        size_t next = 2;
        if (counted) {
            n = next < words.size() ? quor::ParseInt32(words[next++]) : std::nullopt;
            if (!n || *n < 0) return Error("wait " + std::string(what) + " needs a count");
        }
        std::optional<int32_t> ms = 5000;
        if (next < words.size()) ms = quor::ParseInt32(words[next++]);
        if (!ms || *ms < 0 || next != words.size()) return Error("bad wait arguments");
        const Simulator::Duration timeout(*ms);
        bool done = what == "frames"     ? sim_.WaitForFrames(static_cast<size_t>(*n), timeout)
                    : what == "triggers" ? sim_.WaitForTriggers(static_cast<size_t>(*n), timeout)
                                         : sim_.WaitForIdle(timeout);
        json::Json answer = {{"ok", done}};
        if (!done) answer["error"] = "timeout";
        if (what == "frames") answer["frames"] = sim_.FrameCount();
        if (what == "triggers") answer["triggers"] = sim_.Triggers().size();
        return json::Text(answer);
    }
    if (cmd == "quit" || cmd == "exit") {
        if (quit) *quit = true;
        return Ok({{"bye", true}});
    }
    return Error("unknown command: " + std::string(cmd) + " (try help)");
}

}  // namespace pulsyn_sim

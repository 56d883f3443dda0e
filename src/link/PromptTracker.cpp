#include "PromptTracker.h"

#include <algorithm>
#include <limits>

namespace quor {

void TPromptTracker::ForgetLostPrompts(TClock::time_point now) {
    while (!FUnanswered.empty() && now - FUnanswered.front() > AnswerLimit) FUnanswered.pop_front();
}

void TPromptTracker::PromptSent(TClock::time_point now, bool replyExpected) {
    ForgetLostPrompts(now);
    FUnanswered.push_back(now);
    if (!replyExpected) Owe();
}

void TPromptTracker::Resynchronise() {
    FState = TState::Between;
    FLength.clear();
    FRemaining = 0;
}

void TPromptTracker::Received(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        switch (FState) {
            case TState::Between:
                if (c == '<') {
                    FState = TState::Length;
                    FLength.clear();
                    FFrameMayBeOwed = FFramesOwed > 0;
                    if (FFrameMayBeOwed) --FFramesOwed;
                } else if (c == '=' && !FUnanswered.empty()) {
                    FUnanswered.pop_front();
                    FDeviceAnswers = true;
                }
                break;
            case TState::Length:
                FLength += c;
                if (FLength.size() < 4) break;
                FState = TState::Between;
                if (std::all_of(FLength.begin(), FLength.end(), [](char d) { return d >= '0' && d <= '9'; })) {
                    FRemaining = std::stoi(FLength);
                    if (FRemaining > 0) FState = TState::Payload;
                }
                break;
            case TState::Payload: {
                const size_t taken = std::min(static_cast<size_t>(FRemaining), bytes.size() - i);
                FRemaining -= static_cast<int32_t>(taken);
                i += taken - 1;
                if (FRemaining == 0) FState = TState::Between;
                break;
            }
        }
    }
}

void TPromptTracker::Restart() {
    FUnanswered.clear();
    FFramesOwed = 0;
    FFrameMayBeOwed = false;
    Resynchronise();
}

void TPromptTracker::ReplyTaken() { FFramesOwed = 0; }

void TPromptTracker::ReplyAbandoned() { Owe(); }

void TPromptTracker::CommandAbandoned() {
    FUnanswered.clear();
    Owe();
}

// A device that never answers triggers makes the count grow until the next reply resets it.
void TPromptTracker::Owe() {
    if (FFramesOwed < std::numeric_limits<int>::max()) ++FFramesOwed;
}

void TPromptTracker::GiveUpOnOpenPrompts() {
    FUnanswered.clear();
    FDeviceAnswers = false;
}

bool TPromptTracker::FrameIsStale(TClock::time_point now) {
    ForgetLostPrompts(now);
    if (!FDeviceAnswers || FUnanswered.empty()) return false;
    if (FFrameMayBeOwed) return true;
    // No earlier command may still answer, so this is the reply, come before the answer to
    // its prompt: the device has stopped answering prompts.
    GiveUpOnOpenPrompts();
    return false;
}

}  // namespace quor

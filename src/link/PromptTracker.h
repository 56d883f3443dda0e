// Which prompt bytes the stimulator has answered, so that a reply frame can be told apart
// from one that belongs to an earlier command.
//
// The device answers each prompt byte "=" with an "=" of its own, in order with its reply
// frames. So a frame that arrives while a prompt sent before it is still unanswered answers
// an earlier command: a reply that came after its dialogue gave up waiting, or an answer to
// a command that expects none (a trigger, the copy step).
//
// Every byte read from the device is fed through Received: an "=" between frames answers
// the oldest prompt; "<" + four length digits + that many bytes is a frame, whose payload
// may hold any byte. Until the device has answered a prompt at all, it is not known to
// answer them (a device without the answer keeps working as before, unprotected). A prompt
// left unanswered for longer than a reply may take is taken as lost (a byte garbled on the
// line), so that one lost answer cannot mark every later reply as stale.
//
// A device can begin or stop answering prompts (another firmware, another device on the
// port). A frame can only be stale while some earlier command may still send one (a command
// that expects no reply, a dialogue that gave up, a command that failed part-way): when none
// may, a frame that arrives with a prompt unanswered is the reply all the same. It shows
// that the device does not answer prompts (any more, or not yet in step): the prompts still
// open are forgotten, and its answers are counted afresh from the next command on.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace quor {

class TPromptTracker {
public:
    using TClock = std::chrono::steady_clock;

    // A prompt went out; `replyExpected` is false for a command that asks for no reply
    // (which a device may answer all the same).
    void PromptSent(TClock::time_point now, bool replyExpected = true);
    void Received(std::string_view bytes);
    // Forgets a half-read frame: the bytes read next start anew (after input was discarded).
    void Resynchronise();
    // The port was opened again: prompts written before will not be answered on it.
    void Restart();
    // Whether a reply frame that begins now answers a command sent before the last prompt.
    bool FrameIsStale(TClock::time_point now);
    // A dialogue took its reply: every earlier command's frame has come before it.
    void ReplyTaken();
    // A dialogue stopped waiting without its reply, which may still come.
    void ReplyAbandoned();
    // A command failed after its prompt or part of its frame may have gone out: the device
    // may or may not answer the prompt, and may answer the truncated command.
    void CommandAbandoned();
    // A dialogue ran out of time with its prompt unanswered: the device may have stopped
    // answering prompts (a glitch, another device on the port), so it is not relied on until
    // it answers one again, and the prompts still open are forgotten.
    void GiveUpOnOpenPrompts();
    bool PromptsOpen() const { return !FUnanswered.empty(); }
    // Whether the device is known to answer prompts (it answered one, and has not since let
    // a dialogue run out of time with its prompt unanswered).
    bool DeviceAnswers() const { return FDeviceAnswers; }
    // How long a prompt may stay unanswered before its answer is taken as lost.
    std::chrono::milliseconds AnswerLimit{15000};

private:
    void ForgetLostPrompts(TClock::time_point now);
    void Owe();  // one more frame an earlier command may still send

    std::deque<TClock::time_point> FUnanswered;  // the send times of unanswered prompts
    bool FDeviceAnswers = false;
    int FFramesOwed = 0;                 // frames earlier commands may still send
    bool FFrameMayBeOwed = false;        // of the frame being read: one of those
    enum class TState { Between, Length, Payload } FState = TState::Between;
    std::string FLength;
    int32_t FRemaining = 0;
};

}  // namespace quor

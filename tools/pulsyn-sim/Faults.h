// Disturbances of the device's side of the line, switchable at start and while running.
// Each is given as a text "name" or "name=value" (and "name=off" switches it off):
//
//   silence[=on|off]      the device sends nothing at all (no prompt answer, no replies)
//   delay=MS              replies leave MS milliseconds after the command arrived
//   noise[=TEXT]          TEXT goes out before each reply frame ("\xHH" for any byte; default "#~")
//   split=SIZE[/MS]       replies go out in pieces of SIZE bytes, MS ms apart (default 10 ms)
//   bad-length[=XXXX]     the four length characters are replaced by XXXX (default "0x03")
//   wrong-length=DELTA    the length field says DELTA bytes more (or fewer) than the payload has
//   hangup[=N]            after N bytes of the next reply frame (default 3) the line is closed
//                         (once the client has read them, or 250 ms later); fires once
//   echo=on|off, no-echo  the answer "=" to the prompt byte
//   answer-all[=on|off]   commands without "R" (trigger, copy) are answered too, as some
//                         firmware does
//   stream[=RATE]         the device sends filler bytes ("~") without end, RATE bytes a second
//                         (default 3840, the line's full rate), in pieces every 10 ms; not
//                         written to the transcript
//   pace[=on|off]         every byte takes its time on the line: 38400 baud, 8N1, 10 bits a
//                         byte (260.4 us), in both directions
//   hold[=on|off]         the device holds the line, as by XOFF or a stalled adapter: what the
//                         client writes waits in the client's output queue until hold=off
//                         (pseudo-terminal lines only)
//   stall=MS              after each prompt byte it receives, the device holds the line for MS
//                         milliseconds (the client's next writes wait or run out of time)
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Json.h"

namespace pulsyn_sim {

// One byte at 38400 baud with a start bit, 8 data bits and a stop bit.
constexpr double kByteTime = 10.0 / 38400.0;

struct Faults {
    bool silence = false;
    double delay_ms = 0;
    std::string noise;
    int split_size = 0;  // 0: whole replies
    double split_gap_ms = 0;
    std::optional<std::string> bad_length;  // four characters
    int length_offset = 0;
    std::optional<int> hangup_after;
    bool echo = true;
    bool pace = false;
    bool answer_all = false;
    double stream_rate = 0;  // filler bytes a second; 0: none
    bool hold = false;
    double stall_ms = 0;  // 0: none

    // Applies one "name[=value]" text; returns an error message, empty when applied.
    std::string Apply(std::string_view spec);
    // {"silence":false,"delay_ms":0,"noise":"","split":{"size":0,"gap_ms":0},"bad_length":null,
    //  "length_offset":0,"hangup_after":null,"echo":true,"pace":false,"answer_all":false,"stream_rate":0}
    json::Json Json() const;
};

// Decodes "\xHH" escapes (and "\\"); nullopt when an escape is malformed.
std::optional<std::string> DecodeEscapes(std::string_view text);

}  // namespace pulsyn_sim

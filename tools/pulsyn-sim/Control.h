// The simulator's control language: one command per line, one line of JSON per answer, the
// same on the TCP control port and on standard input. Every answer has "ok"; a failed command
// has "error" too.
//
//   help                          {"ok":true,"commands":[...]}
//   path                          {"ok":true,"path":"/dev/pts/7","hung_up":false}
//   state                         {"ok":true,"state":{...}}            (Simulator::StateJson)
//   frames                        {"ok":true,"frames":["Y3R","T4"]}
//   transcript                    {"ok":true,"transcript":[{...},...]}
//   triggers                      {"ok":true,"triggers":[{"t":..,"channel":4,"paradigm":1}]}
//   faults                        {"ok":true,"faults":{...}}
//   fault SPEC [SPEC...]          {"ok":true,"faults":{...}}           (SPEC as in Faults.h)
//   clear                         {"ok":true,"faults":{...}}           every fault off
//   limit NAME=MAX|off [...]      {"ok":true,"limits":{"voltage":10}}  NAME: delay duration
//                                                                     interval count voltage step
//   reset                         {"ok":true}                          device power-cycled
//   reopen                        {"ok":true,"path":"/dev/pts/8"}      a fresh line
//   wait frames N [MS]            {"ok":true,"frames":N} or {"ok":false,"error":"timeout",...}
//   wait triggers N [MS]          likewise, default 5000 ms
//   wait idle [MS]                {"ok":true} or {"ok":false,"error":"timeout"}
//   quit                          {"ok":true,"bye":true}               the program ends
#pragma once

#include <string>
#include <string_view>

#include "Simulator.h"

namespace pulsyn_sim {

class Control {
public:
    explicit Control(Simulator& simulator) : sim_(simulator) {}
    // Runs one command line; returns the answer (without a line break), or an empty text for a
    // blank line. Sets *quit when the command asks the program to end.
    std::string Execute(std::string_view line, bool* quit = nullptr);

private:
    Simulator& sim_;
};

}  // namespace pulsyn_sim

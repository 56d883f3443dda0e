// quorval: shows the device number text that the stimulator receives for each number given
// on the command line, e.g. `quorval 0.025 12345 -2.5` prints +25.00E-3, +12.35E+3, -2.500E+0.
#include <cstdio>
#include <string>

#include "base/Exceptions.h"
#include "base/TextConvert.h"
#include "value/QuorClasses.h"

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help") {
        std::printf("usage: quorval NUMBER...\n"
                    "Prints the nine-character device number each NUMBER is sent as, and the value\n"
                    "the stimulator reads back from it (four significant digits).\n");
        return argc < 2 ? 2 : 0;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        try {
            quor::TQuorValue value;
            value.SetAsDouble(quor::StrToFloat(argv[i]));
            std::printf("%-14s -> %s  (reads back as %.10g)\n", argv[i], value.PulsynValue().c_str(),
                        value.AsDouble());
        } catch (const quor::Exception& e) {
            std::printf("%-14s -> refused: %s\n", argv[i], e.what());
            status = 1;
        }
    }
    return status;
}

#include "RtfRead.h"

namespace monitor_test {

TReadBack ReadRtfFileWithPlatformReader(const std::string& path, bool) {
    return ReadRtfIndependently(ReadFile(path));
}

}  // namespace monitor_test

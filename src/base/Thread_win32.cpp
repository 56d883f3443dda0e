#include <windows.h>

#include "ThreadPlatform.h"

namespace quor::platform {
void RaiseCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}
}  // namespace quor::platform

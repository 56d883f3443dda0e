#include "ThreadPlatform.h"

namespace quor::platform {
// Raising a thread above its process's priority needs privileges that a lab program does
// not have; the event thread runs at normal priority here.
void RaiseCurrentThreadPriority() {}
}  // namespace quor::platform

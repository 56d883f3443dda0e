// Platform half of Thread.
#pragma once

namespace quor::platform {
// Raises the calling thread one step above normal priority where the system allows it.
void RaiseCurrentThreadPriority();
}  // namespace quor::platform

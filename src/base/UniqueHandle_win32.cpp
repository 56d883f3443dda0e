#include "UniqueHandle.h"

#include <windows.h>

namespace quor {

void TKernelHandleTraits::Close(void* handle) { CloseHandle(handle); }

}  // namespace quor

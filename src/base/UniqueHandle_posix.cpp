#include "UniqueHandle.h"

#include <unistd.h>

namespace quor {

void TFileDescriptorTraits::Close(int descriptor) { close(descriptor); }

}  // namespace quor

#include <windows.h>

#include "CommObjs.h"
#include "base/WideText.h"

namespace quor {

const int32_t kInvalidHandleError = ERROR_INVALID_HANDLE;
const THandle kNoEventHandle = 0;

namespace {
HANDLE H(THandle handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

int32_t LastSystemError() { return static_cast<int32_t>(GetLastError()); }

THandleObject::~THandleObject() = default;

void TEventHandleTraits::Close(THandle handle) { CloseHandle(H(handle)); }

TEvent::TEvent(void* EventAttributes, bool ManualReset, bool InitialState, const std::string& Name)
    : FManualReset(ManualReset) {
    const std::wstring name = ToWide(Name);
    // CreateEventW gives null on failure; that null is kept, as the system gave it.
    FHandle.Reset(reinterpret_cast<THandle>(CreateEventW(static_cast<SECURITY_ATTRIBUTES*>(EventAttributes), ManualReset,
                                                     InitialState, Name.empty() ? nullptr : name.c_str())));
}

TEventWaitResult TEvent::WaitFor(uint32_t Timeout) {
    switch (WaitForSingleObject(H(FHandle.Get()), Timeout)) {
    case WAIT_OBJECT_0:
        return wrSignaled;
    case WAIT_TIMEOUT:
        return wrTimeout;
    case WAIT_ABANDONED:
        return wrAbandoned;
    case WAIT_FAILED:
        FError = static_cast<int32_t>(GetLastError());
        return wrError;
    default:
        return wrError;
    }
}

void TEvent::SetEvent() { ::SetEvent(H(FHandle.Get())); }
void TEvent::ResetEvent() { ::ResetEvent(H(FHandle.Get())); }

struct TCriticalSection::Section {
    CRITICAL_SECTION section;
};

TCriticalSection::TCriticalSection() : FSection(std::make_unique<Section>()) {
    InitializeCriticalSection(&FSection->section);
}
TCriticalSection::~TCriticalSection() { DeleteCriticalSection(&FSection->section); }
void TCriticalSection::Acquire() { EnterCriticalSection(&FSection->section); }
void TCriticalSection::Release() { LeaveCriticalSection(&FSection->section); }

}  // namespace quor

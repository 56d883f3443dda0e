// TUniqueHandle: the one owner of a system handle (a serial port, an event, a window, a file
// descriptor), which it closes when it goes or is given another. Moving hands the handle on;
// it cannot be copied. The traits name the handle's type, the value that means "none", and
// how to close it:
//
//   struct Traits {
//       using Handle = ...;
//       static Handle Invalid();
//       static void Close(Handle);   // called only for a handle that is not Invalid()
//   };
#pragma once

#include <cstdint>
#include <utility>

namespace quor {

template <class Traits>
class TUniqueHandle {
public:
    using Handle = typename Traits::Handle;

    TUniqueHandle() = default;
    explicit TUniqueHandle(Handle handle) : FHandle(handle) {}
    TUniqueHandle(TUniqueHandle&& other) noexcept : FHandle(other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    ~TUniqueHandle() { Reset(); }

    Handle Get() const { return FHandle; }
    bool Valid() const { return FHandle != Traits::Invalid(); }
    // Gives the handle up without closing it.
    Handle Release() { return std::exchange(FHandle, Traits::Invalid()); }
    // Closes the handle held, if any, and holds `handle` instead.
    void Reset(Handle handle = Traits::Invalid()) {
        const Handle old = std::exchange(FHandle, handle);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    Handle FHandle = Traits::Invalid();
};

#ifndef _WIN32
// A POSIX file descriptor.
struct TFileDescriptorTraits {
    using Handle = int;
    static int Invalid() { return -1; }
    static void Close(int descriptor);
};
using TFileDescriptor = TUniqueHandle<TFileDescriptorTraits>;
#else
// A Win32 kernel object whose "none" is INVALID_HANDLE_VALUE (files, devices).
struct TKernelHandleTraits {
    using Handle = void*;
    static void* Invalid() { return reinterpret_cast<void*>(static_cast<intptr_t>(-1)); }
    static void Close(void* handle);
};
using TKernelHandle = TUniqueHandle<TKernelHandleTraits>;
#endif

}  // namespace quor

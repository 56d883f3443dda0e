// TComPtr: owns one reference to a COM interface and releases it when it goes.
#pragma once

#include <windows.h>

#include <utility>

namespace quor {

template <class T>
class TComPtr {
public:
    TComPtr() = default;
    // Takes over a reference the caller already holds.
    static TComPtr Adopt(T* pointer) {
        TComPtr owner;
        owner.FPointer = pointer;
        return owner;
    }
    // Takes a reference of its own.
    static TComPtr Share(T* pointer) {
        if (pointer) pointer->AddRef();
        return Adopt(pointer);
    }
    TComPtr(const TComPtr& other) : FPointer(other.FPointer) {
        if (FPointer) FPointer->AddRef();
    }
    TComPtr(TComPtr&& other) noexcept : FPointer(std::exchange(other.FPointer, nullptr)) {}
    TComPtr& operator=(TComPtr other) noexcept {
        std::swap(FPointer, other.FPointer);
        return *this;
    }
    ~TComPtr() { Reset(); }

    T* Get() const { return FPointer; }
    T* operator->() const { return FPointer; }
    explicit operator bool() const { return FPointer != nullptr; }

    // Where a call that hands out a reference puts it; what was held is released first.
    T** Put() {
        Reset();
        return &FPointer;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(FPointer, nullptr); }
    void Reset() {
        if (T* held = std::exchange(FPointer, nullptr)) held->Release();
    }

private:
    T* FPointer = nullptr;
};

}  // namespace quor

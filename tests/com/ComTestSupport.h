// Shared by the automation server's tests: the library under test, loaded from the path in
// QUORLIB_DLL, and a small owning pointer for interfaces.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdlib>
#include <string>

#include "QuorLib_TLB.h"
#include "server/ComPtr.h"

namespace comtest {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using PlainFn = HRESULT(STDAPICALLTYPE*)();

inline std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// A path from the build system (a Unix path under Wine) as Windows sees it.
inline std::wstring WindowsPath(const char* variable) {
    const char* value = std::getenv(variable);
    if (!value) return L"";
    std::string path = value;
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        path = "Z:" + path;
    }
    return Widen(path);
}

// The address of an export, by name or by ordinal (MAKEINTRESOURCEA). FARPROC stands for
// any function; going through void* tells the compiler that the cast to the export's own
// type is meant.
inline void* ExportAddress(HMODULE module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}
template <class Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(ExportAddress(module, name));
}

struct Library {
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    PlainFn canUnloadNow = nullptr, registerServer = nullptr, unregisterServer = nullptr;

    explicit Library(const std::wstring& path) {
        module = LoadLibraryW(path.c_str());
        if (!module) return;
        getClassObject = Export<GetClassObjectFn>(module, "DllGetClassObject");
        canUnloadNow = Export<PlainFn>(module, "DllCanUnloadNow");
        registerServer = Export<PlainFn>(module, "DllRegisterServer");
        unregisterServer = Export<PlainFn>(module, "DllUnregisterServer");
    }
};

inline Library& Dll() {
    static Library library(WindowsPath("QUORLIB_DLL"));
    return library;
}

template <class T>
using Ref = quor::TComPtr<T>;

}  // namespace comtest

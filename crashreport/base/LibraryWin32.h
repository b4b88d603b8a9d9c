#pragma once
// Optional system functions, loaded at run time: the program imports only what every supported
// system has, and reaches the rest (version information, MAPI, Internet settings, device lists)
// through a system library loaded from the system folder when it is needed. The function's type
// comes from its declaration in the system headers, so it is stated once:
//
//     TSystemLibrary version(L"version.dll");
//     auto getSize = ZE_SYSTEM_PROC(version, GetFileVersionInfoSizeW);
//     if (getSize) ...
//
// A library or function that is missing gives a null pointer, never a crash.
#include <windows.h>

#include "crashreport/base/HandlesWin32.h"

class TSystemLibrary {
public:
    // The library of that file name from the system folder (never one beside the program).
    explicit TSystemLibrary(const wchar_t* fileName);
    explicit operator bool() const { return static_cast<bool>(FModule); }
    HMODULE Handle() const { return FModule.Get(); }
    // The function of that name as type F (a function pointer type), or null.
    template <class F> F Find(const char* name) const {
        if (!FModule) return nullptr;
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(FModule.Get(), name)));
    }

private:
    TModuleHandle FModule;
};

#define ZE_SYSTEM_PROC(library, function) (library).Find<decltype(&::function)>(#function)

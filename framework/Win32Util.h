#pragma once
// Small RAII wrappers, one per kind of handle, and UTF-8 <-> UTF-16 at the Win32 boundary.
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

template <class Traits> class TScopedHandle {
public:
    using Handle = typename Traits::Handle;
    TScopedHandle() = default;
    explicit TScopedHandle(Handle h) : FHandle(h) {}
    TScopedHandle(const TScopedHandle&) = delete;
    TScopedHandle& operator=(const TScopedHandle&) = delete;
    TScopedHandle(TScopedHandle&& o) noexcept : FHandle(std::exchange(o.FHandle, Traits::Invalid())) {}
    TScopedHandle& operator=(TScopedHandle&& o) noexcept {
        if (this != &o) Reset(std::exchange(o.FHandle, Traits::Invalid()));
        return *this;
    }
    ~TScopedHandle() { Reset(); }
    void Reset(Handle h = Traits::Invalid()) {
        if (FHandle != Traits::Invalid()) Traits::Close(FHandle);
        FHandle = h;
    }
    Handle Get() const { return FHandle; }
    Handle Release() { return std::exchange(FHandle, Traits::Invalid()); }
    explicit operator bool() const { return FHandle != Traits::Invalid(); }

private:
    Handle FHandle = Traits::Invalid();
};

struct TFileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};
struct TKernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::CloseHandle(h); }
};
struct TGdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};
struct TMemoryDCTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};

using TFileHandle = TScopedHandle<TFileHandleTraits>;
using TKernelHandle = TScopedHandle<TKernelHandleTraits>;
using TGdiObject = TScopedHandle<TGdiObjectTraits>;
using TMemoryDC = TScopedHandle<TMemoryDCTraits>;

// Selects an object into a DC for a scope.
class TSelectObject {
public:
    TSelectObject(HDC dc, HGDIOBJ obj) : FDC(dc), FOld(::SelectObject(dc, obj)) {}
    ~TSelectObject() { ::SelectObject(FDC, FOld); }
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;

private:
    HDC FDC;
    HGDIOBJ FOld;
};

// A window DC for a scope.
class TWindowDC {
public:
    explicit TWindowDC(HWND wnd) : FWnd(wnd), FDC(::GetDC(wnd)) {}
    ~TWindowDC() { ::ReleaseDC(FWnd, FDC); }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const { return FDC; }

private:
    HWND FWnd;
    HDC FDC;
};

// The text of the last OS error, for error messages.
std::string SysErrorMessage(DWORD code);

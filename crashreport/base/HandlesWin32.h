#pragma once
// The Win32 kinds of handle, each with its traits and scoped owner; and scopes for a selected
// GDI object and a window DC.
#include <windows.h>

#include "crashreport/base/ScopedHandle.h"

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
struct TModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};
struct TMappedViewTraits {
    using Handle = void*;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::UnmapViewOfFile(h); }
};
struct TWindowTraits {
    using Handle = HWND;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DestroyWindow(h); }
};
template <class H> struct TGdiTraits {
    using Handle = H;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};
struct TMemoryDCTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};
struct TRegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::RegCloseKey(h); }
};
struct TIconTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DestroyIcon(h); }
};
struct THookTraits {
    using Handle = HHOOK;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::UnhookWindowsHookEx(h); }
};

using TFileHandle = TScopedHandle<TFileHandleTraits>;
using TKernelHandle = TScopedHandle<TKernelHandleTraits>;
using TModuleHandle = TScopedHandle<TModuleTraits>;
using TMappedView = TScopedHandle<TMappedViewTraits>;
using TWindowHandle = TScopedHandle<TWindowTraits>;
template <class H = HGDIOBJ> using TGdi = TScopedHandle<TGdiTraits<H>>;
using TGdiObject = TGdi<>;
using TMemoryDC = TScopedHandle<TMemoryDCTraits>;
using TRegKey = TScopedHandle<TRegKeyTraits>;
using TIcon = TScopedHandle<TIconTraits>;
using THook = TScopedHandle<THookTraits>;

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

#include "crashreport/bitmap/NVBitmap.h"

#include <algorithm>
#include <cstring>

#include "crashreport/bitmap/PngWriter.h"
#include "crashreport/bitmap/Zoom.h"
#include "framework/Win32Util.h"

TINVBitmap::TINVBitmap(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || !ValidBitmapSize(width, height)) return;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = height; // bottom-up, as BMP files store it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FDC.Reset(::CreateCompatibleDC(nullptr));
    if (!FDC) return;
    FBitmap.Reset(::CreateDIBSection(FDC.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!FBitmap || !bits) return;
    FOldBitmap = ::SelectObject(FDC.Get(), FBitmap.Get());
    FWidth = width;
    FHeight = height;
    FBits = static_cast<uint32_t*>(bits);
    std::fill_n(FBits, size_t(width) * size_t(height), 0x00FFFFFFu);
}

TINVBitmap::~TINVBitmap() {
    if (FDC && FOldBitmap) ::SelectObject(FDC.Get(), FOldBitmap);
}

void TINVBitmap::Draw(HDC dc, int x, int y) {
    if (Valid()) ::BitBlt(dc, x, y, FWidth, FHeight, FDC.Get(), 0, 0, SRCCOPY);
}

TBitmap32 TINVBitmap::Pixels() const {
    if (!Valid()) return {};
    ::GdiFlush(); // GDI may still be drawing into the section
    TBitmap32 bmp(FWidth, FHeight);
    for (int32_t y = 0; y < FHeight; ++y) {
        const uint32_t* src = FBits + size_t(FHeight - 1 - y) * size_t(FWidth);
        uint32_t* dst = bmp.Row(y);
        for (int32_t x = 0; x < FWidth; ++x)
            dst[x] = src[x] & 0x00FFFFFF;
    }
    return bmp;
}

void TINVBitmap::SetPixels(const TBitmap32& bmp) {
    if (!Valid() || bmp.Width != FWidth || bmp.Height != FHeight) return;
    ::GdiFlush();
    for (int32_t y = 0; y < FHeight; ++y)
        std::memcpy(FBits + size_t(FHeight - 1 - y) * size_t(FWidth), bmp.Row(y), size_t(FWidth) * 4);
}

std::vector<uint8_t> TINVBitmap::AsBmp() const {
    return BmpBytes(Pixels());
}

std::vector<uint8_t> TINVBitmap::AsPng(int mode) const {
    return PngBytes(Pixels(), mode);
}

namespace {

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return false;
    const std::wstring wide = Widen(path);
    bool ok;
    {
        TFileHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        ok = ::WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
             written == bytes.size();
    }
    if (!ok) ::DeleteFileW(wide.c_str()); // no half-written screenshot
    return ok;
}

// Files beyond this cannot hold a picture within the pixel limit.
constexpr uint64_t MaxBmpFileSize = MaxBitmapPixels * 4 + 65536;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    TFileHandle file(::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.Get(), &size) || uint64_t(size.QuadPart) > MaxBmpFileSize)
        return false;
    bytes.resize(size_t(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() || (::ReadFile(file.Get(), bytes.data(), DWORD(bytes.size()), &read, nullptr) &&
                             read == bytes.size());
}

// Draws the mouse pointer at its place in the captured area, if it is showing.
void DrawCursor(HDC dc, int originX, int originY) {
    CURSORINFO ci{};
    ci.cbSize = sizeof ci;
    HCURSOR cursor = nullptr;
    POINT pos{};
    if (::GetCursorInfo(&ci)) {
        if (!(ci.flags & CURSOR_SHOWING)) return;
        cursor = ci.hCursor;
        pos = ci.ptScreenPos;
    } else if (::GetCursorPos(&pos)) {
        // Older systems: ask the thread of the window under the mouse, with its input attached.
        const HWND under = ::WindowFromPoint(pos);
        const DWORD thread = under ? ::GetWindowThreadProcessId(under, nullptr) : 0;
        const DWORD self = ::GetCurrentThreadId();
        const bool attached = thread && thread != self && ::AttachThreadInput(self, thread, TRUE);
        cursor = ::GetCursor();
        if (attached) ::AttachThreadInput(self, thread, FALSE);
    }
    if (!cursor) return;
    ICONINFO info{};
    if (!::GetIconInfo(cursor, &info)) {
        // Wine cannot read another process's cursor (the desktop's, say): show the arrow instead.
        cursor = ::LoadCursorW(nullptr, IDC_ARROW);
        if (!cursor || !::GetIconInfo(cursor, &info)) return;
    }
    TGdi<HBITMAP> mask(info.hbmMask), color(info.hbmColor); // copies made for us
    ::DrawIconEx(dc, pos.x - int(info.xHotspot) - originX, pos.y - int(info.yHotspot) - originY, cursor, 0, 0,
                 0, nullptr, DI_NORMAL);
}

struct TWindowScan {
    TGdi<HRGN> Region; // captured parts of our windows
    TGdi<HRGN> Above;  // everything above the window being looked at
    RECT Bounds{0, 0, 0, 0};
    DWORD Process = 0;
};

BOOL CALLBACK ScanWindow(HWND wnd, LPARAM param) {
    auto& scan = *reinterpret_cast<TWindowScan*>(param);
    if (!::IsWindowVisible(wnd) || ::IsIconic(wnd)) return TRUE;
    RECT r;
    if (!::GetWindowRect(wnd, &r) || ::IsRectEmpty(&r)) return TRUE;
    TGdi<HRGN> rect(::CreateRectRgnIndirect(&r));
    if (!rect) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    if (pid == scan.Process) {
        TGdi<HRGN> visible(::CreateRectRgn(0, 0, 0, 0));
        if (visible) {
            ::CombineRgn(visible.Get(), rect.Get(), scan.Above.Get(), RGN_DIFF);
            ::CombineRgn(scan.Region.Get(), scan.Region.Get(), visible.Get(), RGN_OR);
        }
        ::UnionRect(&scan.Bounds, &scan.Bounds, &r);
    }
    ::CombineRgn(scan.Above.Get(), scan.Above.Get(), rect.Get(), RGN_OR);
    return TRUE;
}

} // namespace

bool TINVBitmap::SaveBmp(const std::string& path) const {
    return WriteWholeFile(path, AsBmp());
}

bool TINVBitmap::SavePng(const std::string& path, int mode) const {
    return WriteWholeFile(path, AsPng(mode));
}

TRef<INVBitmap> TINVBitmap::Zoom(int32_t width, int32_t height) const {
    return NewNVBitmap(ZoomBitmap(Pixels(), width, height));
}

TRef<INVBitmap> NewNVBitmap(const TBitmap32& bmp) {
    if (bmp.Empty()) return nullptr;
    TRef<TINVBitmap> result(new TINVBitmap(bmp.Width, bmp.Height));
    if (!result->Valid()) return nullptr;
    result->SetPixels(bmp);
    return result;
}

TRef<INVBitmap> LoadNVBitmap(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return nullptr;
    const auto bmp = LoadBmp(bytes);
    return bmp ? NewNVBitmap(*bmp) : nullptr;
}

TRef<INVBitmap> CaptureScreen(bool applicationOnly) {
    const TMemoryDC screen(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!screen) return nullptr;
    RECT area;
    if (::GetSystemMetrics(SM_CMONITORS) > 0) {
        area.left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
        area.top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
        area.right = area.left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
        area.bottom = area.top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    } else {
        area = {0, 0, ::GetDeviceCaps(screen.Get(), HORZRES), ::GetDeviceCaps(screen.Get(), VERTRES)};
    }

    TWindowScan scan;
    bool ok = true;
    if (applicationOnly) {
        scan.Process = ::GetCurrentProcessId();
        scan.Region.Reset(::CreateRectRgn(0, 0, 0, 0));
        scan.Above.Reset(::CreateRectRgn(0, 0, 0, 0));
        ok = scan.Region && scan.Above && ::EnumWindows(ScanWindow, reinterpret_cast<LPARAM>(&scan));
        RECT clipped;
        ok = ok && ::IntersectRect(&clipped, &scan.Bounds, &area);
        TGdi<HRGN> screenRgn(ok ? ::CreateRectRgnIndirect(&area) : nullptr);
        ok = ok && screenRgn &&
             ::CombineRgn(scan.Region.Get(), scan.Region.Get(), screenRgn.Get(), RGN_AND) > NULLREGION;
        if (ok) area = clipped;
    }

    TRef<TINVBitmap> bmp;
    if (ok) {
        bmp = TRef<TINVBitmap>(new TINVBitmap(area.right - area.left, area.bottom - area.top));
        ok = bmp->Valid();
    }
    if (ok) {
        if (scan.Region) { // only our windows' visible parts; the rest stays white
            ::OffsetRgn(scan.Region.Get(), -area.left, -area.top);
            ::SelectClipRgn(bmp->DC(), scan.Region.Get());
        }
        ::BitBlt(bmp->DC(), 0, 0, bmp->Width(), bmp->Height(), screen.Get(), area.left, area.top,
                 SRCCOPY | CAPTUREBLT);
        ::SelectClipRgn(bmp->DC(), nullptr);
        DrawCursor(bmp->DC(), area.left, area.top);
        ::GdiFlush();
    }
    return ok ? TRef<INVBitmap>(bmp) : TRef<INVBitmap>();
}

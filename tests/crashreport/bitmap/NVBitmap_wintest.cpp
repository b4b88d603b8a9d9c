// The screenshot bitmap on the real screen: windows of known colours at known places, captured,
// written as PNG and BMP, read back and zoomed.
#include "crashreport/bitmap/NVBitmap.h"
#include "framework/Win32Util.h"
#include "tests/support/WinTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <optional>

namespace {

constexpr uint32_t Red = 0xD22819; // 0x00RRGGBB
constexpr uint32_t Blue = 0x143CC8;

LRESULT CALLBACK SolidWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        const auto c = uint32_t(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
        HBRUSH brush = ::CreateSolidBrush(RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF));
        RECT r;
        ::GetClientRect(wnd, &r);
        ::FillRect(dc, &r, brush);
        ::DeleteObject(brush);
        ::EndPaint(wnd, &ps);
        return 0;
    }
    if (msg == WM_ERASEBKGND) return 1;
    return ::DefWindowProcW(wnd, msg, wParam, lParam);
}

// A borderless topmost window filled with one colour (0x00RRGGBB), at screen position x, y.
HWND SolidWindow(int x, int y, int w, int h, uint32_t colour) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = SolidWndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        // A pointer of its own: without one the window hides the pointer as soon as the mouse move
        // reaches it, and what a capture shows would depend on when that happens.
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = L"ZeSolidColourWnd";
        ::RegisterClassW(&wc);
        registered = true;
    }
    HWND wnd = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"ZeSolidColourWnd", L"", WS_POPUP, x, y,
                                 w, h, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(wnd, GWLP_USERDATA, LONG_PTR(colour));
    ::ShowWindow(wnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(wnd);
    return wnd;
}

class NVBitmapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::SetCursorPos(2, 2); // keep the pointer off the pictures
        RedWnd = SolidWindow(300, 200, 160, 120, Red);
        BlueWnd = SolidWindow(600, 450, 100, 80, Blue);
        PumpMessages(200);
    }
    void TearDown() override {
        ::DestroyWindow(RedWnd);
        ::DestroyWindow(BlueWnd);
        PumpMessages(20);
    }
    HWND RedWnd = nullptr, BlueWnd = nullptr;
};

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Just enough of a PNG reader for our own files (palette, bit depth 8 or 4, filter 0): checks
// the signature, every chunk's CRC and the zlib stream, and gives the pixels.
std::optional<TBitmap32> ReadPalettePng(const std::vector<uint8_t>& png) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (png.size() < 8 || std::memcmp(png.data(), signature, 8) != 0) return std::nullopt;
    uint32_t width = 0, height = 0, depth = 0;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> idat;
    bool ended = false;
    for (size_t pos = 8; pos + 12 <= png.size() && !ended;) {
        const uint32_t len = BigEndian32(&png[pos]);
        if (len > png.size() - pos - 12) return std::nullopt;
        const uint8_t* type = &png[pos + 4];
        const uint8_t* data = type + 4;
        if (crc32(0, type, len + 4) != BigEndian32(data + len)) return std::nullopt;
        if (!std::memcmp(type, "IHDR", 4) && len == 13) {
            width = BigEndian32(data);
            height = BigEndian32(data + 4);
            depth = data[8];
            if (data[9] != 3 || data[10] || data[11] || data[12]) return std::nullopt;
        } else if (!std::memcmp(type, "PLTE", 4)) {
            for (uint32_t i = 0; i + 3 <= len; i += 3)
                palette.push_back(Rgb(data[i], data[i + 1], data[i + 2]));
        } else if (!std::memcmp(type, "IDAT", 4)) {
            idat.insert(idat.end(), data, data + len);
        } else if (!std::memcmp(type, "IEND", 4)) {
            ended = true;
        }
        pos += 12 + len;
    }
    if (!ended || !width || !height || (depth != 8 && depth != 4) || width > 10000 || height > 10000)
        return std::nullopt;
    const size_t stride = 1 + (size_t(width) * depth + 7) / 8;
    std::vector<uint8_t> rows(stride * height);
    uLongf size = uLongf(rows.size());
    if (uncompress(rows.data(), &size, idat.data(), uLong(idat.size())) != Z_OK || size != rows.size())
        return std::nullopt;
    TBitmap32 bmp{int32_t(width), int32_t(height)};
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = &rows[y * stride];
        if (row[0] != 0) return std::nullopt;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t index = depth == 8 ? row[1 + x] : (row[1 + x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
            if (index >= palette.size()) return std::nullopt;
            bmp.At(int32_t(x), int32_t(y)) = palette[index];
        }
    }
    return bmp;
}

TEST_F(NVBitmapTest, ApplicationCaptureHoldsOurWindowsAndWhiteBetweenThem) {
    TRef<INVBitmap> shot = CaptureScreen(true);
    ASSERT_TRUE(shot);
    // The bounding box of the two windows.
    ASSERT_EQ(shot->Width(), 400);
    ASSERT_EQ(shot->Height(), 330);
    const TBitmap32 px = shot->Pixels();
    EXPECT_EQ(px.At(0, 0), Red);
    EXPECT_EQ(px.At(159, 119), Red);
    EXPECT_EQ(px.At(80, 60), Red);
    EXPECT_EQ(px.At(300, 250), Blue);
    EXPECT_EQ(px.At(399, 329), Blue);
    EXPECT_EQ(px.At(160, 60), 0xFFFFFFu); // right of the red window
    EXPECT_EQ(px.At(200, 200), 0xFFFFFFu);
    EXPECT_EQ(px.At(0, 329), 0xFFFFFFu);
    EXPECT_EQ(px.At(399, 0), 0xFFFFFFu);

    // A window of ours on top of another shows where it covers it.
    HWND cover = SolidWindow(400, 260, 40, 40, Blue);
    PumpMessages(100);
    shot = CaptureScreen(true);
    ::DestroyWindow(cover);
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->Pixels().At(110, 70), Blue);
    EXPECT_EQ(shot->Pixels().At(90, 50), Red);
}

TEST_F(NVBitmapTest, MousePointerIsDrawnWhereItShows) {
    ::SetCursorPos(380, 260); // over the red window
    PumpMessages(50);
    CURSORINFO ci{};
    ci.cbSize = sizeof ci;
    ASSERT_TRUE(::GetCursorInfo(&ci));
    TRef<INVBitmap> shot = CaptureScreen(true);
    ::SetCursorPos(2, 2);
    ASSERT_TRUE(shot);
    const TBitmap32 px = shot->Pixels();
    int changed = 0;
    for (int y = 40; y < 100; ++y)
        for (int x = 60; x < 120; ++x)
            changed += px.At(x, y) != Red;
    if (ci.flags & CURSOR_SHOWING)
        EXPECT_GT(changed, 10);
    else
        EXPECT_EQ(changed, 0);
    EXPECT_EQ(px.At(20, 20), Red); // far from the pointer
}

TEST_F(NVBitmapTest, ScreenCaptureCoversTheVirtualScreen) {
    TRef<INVBitmap> shot = CaptureScreen(false);
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->Width(), ::GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(shot->Height(), ::GetSystemMetrics(SM_CYVIRTUALSCREEN));
    const int ox = ::GetSystemMetrics(SM_XVIRTUALSCREEN), oy = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const TBitmap32 px = shot->Pixels();
    EXPECT_EQ(px.At(380 - ox, 260 - oy), Red);
    EXPECT_EQ(px.At(650 - ox, 490 - oy), Blue);
}

TEST_F(NVBitmapTest, CaptureWrittenAsPngAndBmpReadsBack) {
    TRef<INVBitmap> shot = CaptureScreen(true);
    ASSERT_TRUE(shot);
    const TBitmap32 px = shot->Pixels();
    TTempDir dir;

    // Three flat colours: the palette holds each exactly.
    const std::string colourPath = Narrow(dir.File(L"shot.png"));
    ASSERT_TRUE(shot->SavePng(colourPath, 0));
    auto colour = ReadPalettePng(ReadFileBytes(Widen(colourPath)));
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->Width, px.Width);
    EXPECT_EQ(colour->Height, px.Height);
    EXPECT_EQ(colour->Pixels, px.Pixels);

    auto grey = ReadPalettePng(shot->AsPng(1));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->Width, 400);
    EXPECT_EQ(grey->At(200, 200), 0xFFFFFFu);
    EXPECT_EQ(RedOf(grey->At(10, 10)), GreenOf(grey->At(10, 10)));
    EXPECT_LT(RedOf(grey->At(10, 10)), 255u);

    const std::wstring bmpPath = dir.File(L"shot.bmp");
    ASSERT_TRUE(shot->SaveBmp(Narrow(bmpPath)));
    const std::vector<uint8_t> bmp = ReadFileBytes(bmpPath);
    ASSERT_EQ(bmp.size(), 54u + 4u * 400u * 330u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    uint32_t fileSize, offset;
    std::memcpy(&fileSize, &bmp[2], 4);
    std::memcpy(&offset, &bmp[10], 4);
    EXPECT_EQ(fileSize, bmp.size());
    EXPECT_EQ(offset, 54u);
    TRef<INVBitmap> loaded = LoadNVBitmap(Narrow(bmpPath));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Pixels().Pixels, px.Pixels);

    EXPECT_FALSE(LoadNVBitmap(Narrow(dir.File(L"missing.bmp"))));
    EXPECT_FALSE(shot->SaveBmp(Narrow(dir.File(L"no\\such\\folder.bmp"))));
    EXPECT_FALSE(FileExists(dir.File(L"no\\such\\folder.bmp")));
}

TEST_F(NVBitmapTest, ZoomedCaptureKeepsItsAreas) {
    TRef<INVBitmap> shot = CaptureScreen(true);
    ASSERT_TRUE(shot);
    TRef<INVBitmap> half = shot->Zoom(200, 165);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->Width(), 200);
    EXPECT_EQ(half->Height(), 165);
    const TBitmap32 px = half->Pixels();
    EXPECT_EQ(px.At(40, 30), Red);
    EXPECT_EQ(px.At(175, 145), Blue);
    EXPECT_EQ(px.At(100, 100), 0xFFFFFFu);
    EXPECT_FALSE(shot->Zoom(0, 10));

    // Drawn onto a window's DC, the zoomed picture shows on screen.
    TWindowDC dc(RedWnd);
    half->Draw(dc.Get(), 0, 0);
    ::GdiFlush();
    PumpMessages(50);
    Screenshot(RedWnd, "nvbitmap-zoom-drawn");
    TRef<INVBitmap> again = CaptureScreen(true);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Pixels().At(100, 100), 0xFFFFFFu); // white of the zoomed picture, inside RedWnd
}

} // namespace

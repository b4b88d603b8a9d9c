// The progress window as its users drive it: planned, shown, advanced from a worker thread and
// closed, read back through its real controls.
#include "crashreport/ui/ProgressAlert.h"
#include "framework/Win32Util.h"
#include "tests/support/WinTestSupport.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

namespace {

HWND FindAlert() {
    return ::FindWindowW(L"prgrAlertWndClass", nullptr);
}
HWND Child(HWND wnd, const wchar_t* cls) {
    return ::FindWindowExW(wnd, nullptr, cls, nullptr);
}
int BarPos(HWND alert) {
    return int(::SendMessageW(Child(alert, PROGRESS_CLASSW), PBM_GETPOS, 0, 0));
}
std::string Text(HWND wnd) {
    wchar_t buf[512] = {};
    ::GetWindowTextW(wnd, buf, 512);
    return Narrow(buf);
}
std::string LabelText(HWND alert) {
    return Text(Child(alert, L"Static"));
}
// The child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child) {
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}
// Pumps this thread's messages until the condition holds (false after 5 s).
bool PumpUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        PumpMessages(10);
    }
    return true;
}

// A plain top-level window to own the alert.
HWND MakeOwner() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = L"ZeProgressOwner";
        ::RegisterClassW(&wc);
        registered = true;
    }
    HWND wnd = ::CreateWindowExW(0, L"ZeProgressOwner", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                 400, 300, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    PumpMessages(20);
    return wnd;
}

TEST(ProgressAlert, ShowsPleaseWaitCentredWithItsLayout) {
    TRef<IProgressAlert> alert = CreateProgressAlert("Fehlerbericht senden", nullptr, "");
    ASSERT_TRUE(alert->ShowAlert(nullptr, true));
    EXPECT_FALSE(alert->ShowAlert(nullptr, true)); // already showing
    PumpMessages(50);
    HWND wnd = FindAlert();
    ASSERT_TRUE(wnd);
    EXPECT_EQ(Text(wnd), "Fehlerbericht senden");
    EXPECT_EQ(LabelText(wnd), "Please wait...");
    EXPECT_EQ(BarPos(wnd), 0);
    PBRANGE range{};
    ::SendMessageW(Child(wnd, PROGRESS_CLASSW), PBM_GETRANGE, FALSE, LPARAM(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 1000);

    const LONG_PTR ex = ::GetWindowLongPtrW(wnd, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
    HMENU menu = ::GetSystemMenu(wnd, FALSE);
    for (UINT cmd : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
        EXPECT_EQ(::GetMenuState(menu, cmd, MF_BYCOMMAND), UINT(-1)) << cmd;
    EXPECT_NE(::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), UINT(-1));

    // Short text: the minimum width; the bar below the label, both 11 pixels in.
    RECT label = ChildRect(Child(wnd, L"Static")), bar = ChildRect(Child(wnd, PROGRESS_CLASSW)), client;
    ::GetClientRect(wnd, &client);
    EXPECT_EQ(label.left, 11);
    EXPECT_EQ(label.top, 12);
    EXPECT_EQ(label.right - label.left, 220);
    EXPECT_EQ(bar.left, 11);
    EXPECT_EQ(bar.right - bar.left, 220);
    EXPECT_EQ(bar.top, label.bottom + 12);
    EXPECT_EQ(bar.bottom - bar.top, ::GetSystemMetrics(SM_CYVSCROLL));
    EXPECT_EQ(client.right, 242);
    EXPECT_FALSE(Child(wnd, L"Button")); // no picture

    RECT r;
    ::GetWindowRect(wnd, &r);
    EXPECT_NEAR((r.left + r.right) / 2, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    Screenshot(wnd, "progress-please-wait");

    alert->CloseAlert();
    EXPECT_FALSE(::IsWindow(wnd));
    // Shown again after closing: a new window.
    ASSERT_TRUE(alert->ShowAlert(nullptr, true));
    EXPECT_TRUE(FindAlert());
    alert.Reset(); // the last reference closes it
    EXPECT_FALSE(FindAlert());
}

TEST(ProgressAlert, WorkerThreadMovesTheBarThroughTheStagesAndCloses) {
    HWND owner = MakeOwner();
    TRef<IProgressAlert> alert = CreateProgressAlert("Fehlerbericht senden", nullptr, "");
    alert->AddStage("Anhänge packen...", 1000);
    alert->AddStage("Verbindung zum Server aufbauen...", 1000);
    alert->AddStage("", 2000); // repeats the previous text
    ASSERT_TRUE(alert->ShowAlert(owner, true));
    HWND wnd = FindAlert();
    ASSERT_TRUE(wnd);
    EXPECT_FALSE(::IsWindowEnabled(owner));
    EXPECT_EQ(::GetWindow(wnd, GW_OWNER), owner);

    // The worker takes one step at a time; this thread checks it and lets it go on.
    std::atomic<int> step{0}, checked{0};
    std::thread worker([&] {
        auto next = [&](int n, const std::function<void()>& action) {
            while (checked.load() < n - 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            action();
            step = n;
        };
        next(1, [&] { alert->SetStagePosition(500); });
        next(2, [&] { alert->StageDone(); });
        next(3, [&] { alert->StageDone(); });
        next(4, [&] { alert->SetStagePosition(250); });
        next(5, [&] { alert->StageDone(); }); // past the last stage: full bar
        next(6, [&] { alert->CloseAlert(); });
    });
    struct TExpect {
        int Pos;
        int Stage;
        const char* Text;
    };
    const TExpect expected[] = {{125, 0, "Anhänge packen..."},
                                {250, 1, "Verbindung zum Server aufbauen..."},
                                {500, 2, "Verbindung zum Server aufbauen..."},
                                {625, 2, "Verbindung zum Server aufbauen..."},
                                {1000, 2, "Verbindung zum Server aufbauen..."}};
    for (int i = 0; i < 5; ++i) {
        if (!PumpUntil([&] { return step.load() == i + 1 && BarPos(wnd) == expected[i].Pos; })) {
            ADD_FAILURE() << "step " << i + 1 << " (worker at " << step.load() << "): bar at " << BarPos(wnd);
            checked = 100; // let the worker finish
            PumpUntil([&] { return step.load() == 6; });
            worker.join();
            return;
        }
        EXPECT_EQ(alert->CurrentStage(), expected[i].Stage);
        EXPECT_EQ(LabelText(wnd), expected[i].Text);
        if (i == 0 || i == 4) Screenshot(wnd, "progress-stage-" + std::to_string(i + 1));
        checked = i + 1;
    }
    EXPECT_EQ(alert->StagePosition(), 1000);
    // CloseAlert re-enables and activates the owner through this thread: pump until it returns.
    EXPECT_TRUE(PumpUntil([&] { return step.load() == 6; }));
    worker.join();
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_TRUE(::IsWindowEnabled(owner));
    ::DestroyWindow(owner);
}

TEST(ProgressAlert, CloseMessagesAreIgnoredUntilCloseAlert) {
    TRef<IProgressAlert> alert = CreateProgressAlert("Bitte warten", nullptr, "");
    ASSERT_TRUE(alert->ShowAlert(nullptr, false));
    HWND wnd = FindAlert();
    ASSERT_TRUE(wnd);
    ::SendMessageW(wnd, WM_CLOSE, 0, 0);
    ::SendMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpMessages(20);
    EXPECT_TRUE(::IsWindow(wnd));
    EXPECT_TRUE(::IsWindowVisible(wnd));

    // Shown without activation: in the work area's bottom right corner.
    RECT r, work;
    ::GetWindowRect(wnd, &r);
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(r.right, work.right - 2);
    EXPECT_EQ(r.bottom, work.bottom - 2);

    // Closing from another thread goes through the close command, which this thread handles.
    std::atomic<bool> closed{false};
    std::thread worker([&] {
        alert->CloseAlert();
        closed = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return closed.load(); }));
    worker.join();
    EXPECT_FALSE(::IsWindow(wnd));
}

TEST(ProgressAlert, LongTextsWrapAndSizeTheWindowForTheLargestStage) {
    TRef<IProgressAlert> alert = CreateProgressAlert("Senden", nullptr, "");
    alert->AddStage("", 10); // an empty first text stays empty
    alert->AddStage("Der Fehlerbericht wird an den Hersteller gesendet. Dies kann je nach Verbindung und "
                    "Größe der Anhänge einige Minuten dauern. Bitte haben Sie etwas Geduld.",
                    10);
    ASSERT_TRUE(alert->ShowAlert(nullptr, true));
    HWND wnd = FindAlert();
    ASSERT_TRUE(wnd);
    EXPECT_EQ(LabelText(wnd), "");
    RECT label = ChildRect(Child(wnd, L"Static"));
    EXPECT_GT(label.right - label.left, 220);
    EXPECT_LE(label.right - label.left, 420);
    EXPECT_GT(label.bottom - label.top, 20); // more than one line
    alert->StageDone();
    EXPECT_EQ(BarPos(wnd), 500);
    EXPECT_NE(LabelText(wnd).find("Größe"), std::string::npos);
    PumpMessages(50);
    Screenshot(wnd, "progress-long-text");

    // Stage changes beyond the plan are ignored.
    alert->SetCurrentStage(3);
    alert->SetCurrentStage(-1);
    EXPECT_EQ(alert->CurrentStage(), 1);
    alert->SetTitle("Neuer Titel");
    EXPECT_EQ(Text(wnd), "Neuer Titel");
    EXPECT_EQ(alert->Title(), "Neuer Titel");
}

TEST(ProgressAlert, PictureResourceMakesRoomBesideTheText) {
    // STONE00 is a bitmap of the wrong size: the button is laid out but stays blank.
    TRef<IProgressAlert> alert = CreateProgressAlert("Senden", ::GetModuleHandleW(nullptr), "STONE00");
    ASSERT_TRUE(alert->ShowAlert(nullptr, true));
    HWND wnd = FindAlert();
    ASSERT_TRUE(wnd);
    HWND button = Child(wnd, L"Button");
    ASSERT_TRUE(button);
    EXPECT_FALSE(::IsWindowEnabled(button));
    EXPECT_EQ(::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    RECT pic = ChildRect(button), label = ChildRect(Child(wnd, L"Static")),
         bar = ChildRect(Child(wnd, PROGRESS_CLASSW));
    EXPECT_EQ(pic.left, 9);
    EXPECT_EQ(pic.top, 9);
    EXPECT_EQ(pic.right - pic.left, 32);
    EXPECT_EQ(label.left, 51);
    EXPECT_EQ(label.bottom - label.top, 26); // one line centred beside the picture
    EXPECT_GT(label.top, 12);
    EXPECT_EQ(label.right, bar.right); // the text ends where the bar ends
    EXPECT_EQ(bar.top, 26 + 24);
    PumpMessages(50);
    Screenshot(wnd, "progress-picture");
}

// A 40-byte header and 32 x 32 pixels of the given alpha and colour.
std::vector<uint8_t> AlphaPicture(int32_t height, uint8_t alpha, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> bytes(40 + 4 * 32 * 32);
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 32;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 32;
    std::memcpy(bytes.data(), &h, 40);
    for (size_t i = 40; i < bytes.size(); i += 4) {
        bytes[i] = b;
        bytes[i + 1] = g;
        bytes[i + 2] = r;
        bytes[i + 3] = alpha;
    }
    return bytes;
}

TEST(ProgressAlert, PictureIsBlendedOntoTheButtonFace) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(dc, dib);
    auto* px = static_cast<uint32_t*>(bits);
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    auto blend = [](uint32_t bg, uint32_t c, uint32_t alpha) {
        return ((256 - (alpha + 1)) * bg + (alpha + 1) * c) / 256;
    };

    std::vector<uint8_t> pic = AlphaPicture(32, 128, 255, 0, 10);
    // Bottom-up: the first stored row is the bottom one; make it opaque black.
    for (size_t i = 0; i < 32; ++i) {
        pic[40 + i * 4] = pic[40 + i * 4 + 1] = pic[40 + i * 4 + 2] = 0;
        pic[40 + i * 4 + 3] = 255;
    }
    ASSERT_TRUE(DrawAlphaPixels(dc, pic.data(), pic.size(), 32));
    ::GdiFlush();
    const uint32_t top = px[0], bottom = px[31 * 32];
    EXPECT_EQ((top >> 16) & 0xFF, blend(GetRValue(face), 255, 128));
    EXPECT_EQ((top >> 8) & 0xFF, blend(GetGValue(face), 0, 128));
    EXPECT_EQ(top & 0xFF, blend(GetBValue(face), 10, 128));
    EXPECT_EQ(bottom & 0xFFFFFF, 0u); // alpha 255 keeps the pixel exactly

    // Transparent (alpha 0) leaves almost the button face; wrong sizes draw nothing.
    pic = AlphaPicture(32, 0, 0, 0, 0);
    ASSERT_TRUE(DrawAlphaPixels(dc, pic.data(), pic.size(), 32));
    ::GdiFlush();
    EXPECT_EQ((px[0] >> 16) & 0xFF, GetRValue(face) * 255 / 256);
    std::fill_n(px, 32 * 32, 0x123456u);
    EXPECT_FALSE(DrawAlphaPixels(dc, pic.data(), pic.size() - 1, 32));
    EXPECT_FALSE(DrawAlphaPixels(dc, pic.data(), pic.size(), 31));
    EXPECT_FALSE(DrawAlphaPicture(dc, ::GetModuleHandleW(nullptr), L"STONE00", 32));
    EXPECT_FALSE(DrawAlphaPicture(dc, ::GetModuleHandleW(nullptr), L"NOSUCHPICTURE", 32));
    ::GdiFlush();
    EXPECT_EQ(px[0], 0x123456u);

    ::SelectObject(dc, old);
    ::DeleteObject(dib);
    ::DeleteDC(dc);
}

TEST(ProgressAlert, PumpingOnTheOwningThreadKeepsAQuitRequest) {
    TRef<IProgressAlert> alert = CreateProgressAlert("Bitte warten", nullptr, "");
    alert->AddStage("Warten", 100);
    ASSERT_TRUE(alert->ShowAlert(nullptr, false));
    HWND wnd = FindAlert();
    ::PostQuitMessage(7);
    alert->SetStagePosition(300); // sends to the bar and pumps
    alert->PumpMessages();
    EXPECT_EQ(BarPos(wnd), 300);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, WPARAM(7));
}

} // namespace

// The exception dialog shown on a thread of its own, as the handling flow shows it, and driven
// from the test's thread by the messages a user's keys and clicks produce. Every step waits until
// the dialog's loop has taken a marker posted after it, never a fixed time.
#include "crashreport/ui/ExceptionBoxWin32.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "crashreport/base/Text.h"
#include "crashreport/plugins/SystemListsWin32.h"
#include "crashreport/report/ReportWin32.h"
#include "crashreport/settings/SettingsWin32.h"
#include "crashreport/stacktrace/ReportTracerWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"
#include "crashreport/ui/ExceptionBoxLayout.h"
#include "framework/Win32Util.h"
#include "tests/support/WinTestSupport.h"

namespace {

const char* const AccessViolation =
    "Access violation at address 00401000 in module 'LevelEditor.exe'. Read of "
    "address 00000000.";

// ---- the dialog on its own thread

class TShownBox {
public:
    explicit TShownBox(TExceptionBoxRequest request)
        : FRequest(std::move(request)), FThread([this] {
              FThreadId = ::GetCurrentThreadId();
              FResult = ShowExceptionBox(FRequest);
              FDone = true;
          }) {}
    ~TShownBox() {
        // A failed test leaves the dialog up: close it directly.
        while (!FDone) {
            if (HWND w = Find(nullptr)) ::PostMessageW(w, WM_NULL, 777, 777);
            ::Sleep(20);
        }
        FThread.join();
    }

    // The visible dialog (another than `before`), once it is idle.
    HWND Up(HWND before = nullptr) {
        HWND wnd = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (wnd = Find(before)) != nullptr; })) << "no dialog";
        if (wnd) {
            EXPECT_TRUE(WaitIdle(wnd));
        }
        return wnd;
    }
    bool Done() const { return FDone; }
    TExceptionBoxResult Result() {
        EXPECT_TRUE(WaitFor([&] { return FDone.load(); })) << "the dialog did not close";
        return FResult;
    }
    HWND Focus() const { return FocusOf(FThreadId); }
    // A key as the focused control receives it.
    void Key(WPARAM key) const { PostKey(FThreadId, key); }

private:
    HWND Find(HWND before) const { return FindThreadWindow(FThreadId, L"xunExceptWndClass", before); }

    TExceptionBoxRequest FRequest;
    std::atomic<DWORD> FThreadId{0};
    std::atomic<bool> FDone{false};
    TExceptionBoxResult FResult{};
    std::thread FThread; // last: it runs at once
};

HWND Button(HWND box, int id) {
    return ::GetDlgItem(box, ExceptionBoxControlId + id);
}
void Click(HWND box, int id) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(ExceptionBoxControlId + id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Button(box, id)));
}
RECT ChildRect(HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}
std::string Text(HWND wnd) {
    return Narrow(WindowText(wnd));
}
std::string ClassOf(HWND wnd) {
    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    return Narrow(cls);
}
std::string Clipboard() {
    std::string text;
    // The dialog may still hold it open for a moment.
    if (!WaitFor([] { return ::OpenClipboard(nullptr) != FALSE; })) return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        text = Narrow(static_cast<const wchar_t*>(::GlobalLock(data)));
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return text;
}
// Real keys reach the dialog after the messages posted to it: wait for the clipboard instead
// (without opening it meanwhile, which would make the dialog's copy fail).
std::string CopyWithCtrlC() {
    if (::OpenClipboard(nullptr)) {
        ::EmptyClipboard();
        ::CloseClipboard();
    }
    SendKey('C', true);
    EXPECT_TRUE(WaitFor([] { return ::IsClipboardFormatAvailable(CF_UNICODETEXT) != FALSE; }));
    return Clipboard();
}

// Painting comes after every other message: the picture is taken once nothing waits for it.
bool Painted(HWND box) {
    BOOL pending = ::GetUpdateRect(box, nullptr, FALSE);
    ::EnumChildWindows(
        box,
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            *reinterpret_cast<BOOL*>(p) |= ::GetUpdateRect(w, nullptr, FALSE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&pending));
    return !pending;
}
void Shot(HWND box, const std::string& name) {
    ::RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    WaitIdle(box);
    WaitFor([box] { return Painted(box); }, 3000);
    // What the screen shows lags behind what was drawn: keep the picture once it stays the same.
    std::vector<uint8_t> last;
    for (int i = 0; i < 20; ++i) {
        const std::string path = Screenshot(box, name);
        std::vector<uint8_t> now = ReadFileBytes(Widen(path));
        if (now == last) break;
        last = std::move(now);
        ::Sleep(50);
    }
}
// The shipped settings, with this test's changes kept apart.
TRef<IMESettings> ShippedSettings() {
    return MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(SettingsForModule(::GetModuleHandleW(nullptr))));
}

// A real report of this process, crashed on the calling thread; its completion runs when the test
// says so.
TRef<TBugReport> MakeReport(TRef<IMESettings> settings) {
    EXPECT_TRUE(TThreadRegistry::Instance().Open());
    CONTEXT context{};
    context.ContextFlags = CONTEXT_FULL;
    ::RtlCaptureContext(&context);
    TReportException e;
    e.ClassName = "EAccessViolation";
    e.Message = AccessViolation;
    e.CrashedThreadId = ::GetCurrentThreadId();
    e.HasContext = true;
    e.Context = CpuContextOf(context);
    e.Address = e.Context.Regs[TCpuContext::RegIp];
    e.OsException = true;
    auto report = ProcessBugReport(e, settings, ::GetModuleHandleW(nullptr));
    report->SetDeferCompletion(true);
    report->Header();
    report->Sections();
    return report;
}

TExceptionBoxRequest Request(TRef<IMESettings> settings, bool canContinue = true) {
    TExceptionBoxRequest r;
    r.Settings = std::move(settings);
    r.Message = AccessViolation;
    r.CanContinue = canContinue;
    return r;
}

std::vector<std::string> TabTitles(HWND tabs) {
    std::vector<std::string> out;
    const int n = int(::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        wchar_t buf[64] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = buf;
        item.cchTextMax = 64;
        ::SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        out.push_back(Narrow(buf));
    }
    return out;
}

// Clicks a tab as the mouse would and waits until the dialog has shown it.
void ChooseTab(HWND box, HWND tabs, int index) {
    RECT r{};
    ::SendMessageW(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ::PostMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(tabs, WM_LBUTTONUP, 0, at);
    WaitIdle(box);
    EXPECT_EQ(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0), index);
}

} // namespace

TEST(ExceptionBox, ShippedSettingsLayoutFocusAndCloseRequests) {
    // Esc and the close box: continue when the exception can continue, else close; the continue
    // button is then disabled with its can't-continue picture.
    for (const bool canContinue : {true, false})
        for (const bool escape : {true, false}) {
            SCOPED_TRACE(std::string(canContinue ? "can continue" : "cannot continue") +
                         (escape ? ", Esc" : ", close box"));
            TShownBox shown(Request(ShippedSettings(), canContinue));
            HWND box = shown.Up();
            ASSERT_TRUE(box);
            char exe[MAX_PATH] = {};
            ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
            EXPECT_EQ(Text(box), ExtractFileName(std::string(exe))); // TitleBar '%appname%'
            EXPECT_EQ(::GetWindowLongW(box, GWL_EXSTYLE) & (WS_EX_DLGMODALFRAME | WS_EX_TOPMOST),
                      WS_EX_DLGMODALFRAME | WS_EX_TOPMOST);
            EXPECT_FALSE(::GetWindowLongW(box, GWL_STYLE) & WS_THICKFRAME);

            // Send and show at the bottom left, continue, restart, close in a column at the right.
            for (int id : {BtnSave, BtnPrint})
                EXPECT_FALSE(Button(box, id)) << id;
            const RECT send = ChildRect(Button(box, BtnSend)), show = ChildRect(Button(box, BtnShow));
            const RECT cont = ChildRect(Button(box, BtnContinue)),
                       restart = ChildRect(Button(box, BtnRestart)), close = ChildRect(Button(box, BtnClose));
            RECT client;
            ::GetClientRect(box, &client);
            EXPECT_EQ(send.left, 6);
            EXPECT_EQ(show.left, send.right + 4);
            EXPECT_EQ(send.top, close.top);
            EXPECT_EQ(cont.left, restart.left);
            EXPECT_EQ(cont.left, close.left);
            EXPECT_EQ(close.right - close.left, cont.right - cont.left);
            EXPECT_EQ(close.right, client.right - 12); // R - 4 wide at client width - R - 8
            EXPECT_EQ(restart.top - cont.top, 26);
            EXPECT_EQ(close.top - restart.top, 26);
            EXPECT_EQ(cont.top, 7);
            EXPECT_GT(send.top, ChildRect(::FindWindowExW(box, nullptr, L"Static", nullptr)).bottom);
            EXPECT_EQ(Text(::FindWindowExW(box, nullptr, L"Static", nullptr)),
                      "An error occurred in the application.");

            // FocusedBtn 0: send has the focus and is the default.
            EXPECT_EQ(shown.Focus(), Button(box, BtnSend));
            EXPECT_EQ(LOWORD(::SendMessageW(box, DM_GETDEFID, 0, 0)), ExceptionBoxControlId + BtnSend);
            EXPECT_EQ(::IsWindowEnabled(Button(box, BtnContinue)) != FALSE, canContinue);
            EXPECT_EQ(::GetWindowLongPtrW(Button(box, BtnContinue), GWLP_USERDATA),
                      canContinue ? BtnContinue : BtnCantContinue);
            if (escape) Shot(box, canContinue ? "exception-dialog" : "exception-dialog-cannot-continue");

            if (escape)
                shown.Key(VK_ESCAPE);
            else
                ::PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_EQ(shown.Result(),
                      canContinue ? TExceptionBoxResult::Continue : TExceptionBoxResult::Close);
        }
}

TEST(ExceptionBox, CountdownClosesUnlessTabStopsIt) {
    auto settings = ShippedSettings();
    settings->WriteInt("AutoDelay", 2);
    {
        TExceptionBoxRequest request = Request(settings);
        request.AutoClose = true;
        const auto start = std::chrono::steady_clock::now();
        TShownBox shown(request);
        HWND box = shown.Up();
        ASSERT_TRUE(box);
        EXPECT_EQ(shown.Focus(), Button(box, BtnClose));
        // A picture of the marker on its way (when it is taken does not matter).
        WaitFor([&] {
            return shown.Done() || std::chrono::steady_clock::now() - start > std::chrono::milliseconds(900);
        });
        if (!shown.Done()) Shot(box, "exception-dialog-countdown");
        EXPECT_EQ(shown.Result(), TExceptionBoxResult::Close);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1990));
    }
    {
        // Room for a slow machine between the dialog's start and the Tab.
        settings->WriteInt("AutoDelay", 3);
        TExceptionBoxRequest request = Request(settings);
        request.AutoRestart = true;
        TShownBox shown(request);
        HWND box = shown.Up();
        ASSERT_TRUE(box);
        EXPECT_EQ(shown.Focus(), Button(box, BtnRestart));
        shown.Key(VK_TAB);
        ASSERT_TRUE(WaitIdle(box));
        EXPECT_EQ(shown.Focus(), Button(box, BtnClose));
        ::Sleep(3500); // longer than AutoDelay: the countdown would have ended
        EXPECT_FALSE(shown.Done());
        shown.Key(VK_ESCAPE); // the focused button of the automatic action: restart
        EXPECT_EQ(shown.Result(), TExceptionBoxResult::Restart);
    }
}

TEST(ExceptionBox, PlainBoxCloseRequest) {
    // OK alone; a close request continues when the exception can continue, else closes.
    for (const bool canContinue : {true, false}) {
        TExceptionBoxRequest request = Request(ShippedSettings(), canContinue);
        request.DisplayMode = 1;
        TShownBox shown(request);
        HWND box = shown.Up();
        ASSERT_TRUE(box);
        EXPECT_FALSE(Button(box, BtnShow));
        EXPECT_TRUE(::GetWindowLongW(Button(box, BtnContinue), GWL_STYLE) & BS_DEFPUSHBUTTON);
        shown.Key(VK_ESCAPE);
        EXPECT_EQ(shown.Result(), canContinue ? TExceptionBoxResult::Continue : TExceptionBoxResult::Close);
    }
}

TEST(ExceptionBox, ExpandedTabsGrowWithTheReport) {
    // The system lists as the program registers them: their tabs are shown too.
    struct TSystemLists {
        TSystemLists() { RegisterSystemListPlugins(); }
        ~TSystemLists() { UnregisterSystemListPlugins(); }
    } systemLists;
    auto settings = ShippedSettings();
    auto report = MakeReport(settings);
    TExceptionBoxRequest request = Request(settings);
    request.Report = report;
    request.DisplayMode = 2;
    std::vector<int> actions;
    request.FireHandlers = [&](int action) {
        actions.push_back(action);
        return false;
    };
    TShownBox shown(request);

    // The plain box first: its caption is the program's name, its text the message.
    HWND plain = shown.Up();
    ASSERT_TRUE(plain);
    char exe[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string name(ExtractFileName(std::string(exe)));
    EXPECT_EQ(Text(plain), name.substr(0, name.rfind('.')));
    EXPECT_EQ(
        Text(::FindWindowExW(plain, nullptr, L"Static", nullptr)),
        "Access violation at address 00401000 in module 'LevelEditor.exe'.\r\nRead of address 00000000.");
    EXPECT_EQ(shown.Focus(), Button(plain, BtnContinue));
    EXPECT_EQ(Text(Button(plain, BtnContinue)), "&OK");
    EXPECT_EQ(Text(Button(plain, BtnShow)), "&Details");
    Shot(plain, "exception-plain-box");
    EXPECT_EQ(CopyWithCtrlC(), AccessViolation);

    // Details: the dialog again, expanded, with the report's tabs.
    Click(plain, BtnShow);
    HWND box = shown.Up(plain);
    ASSERT_TRUE(box);
    EXPECT_EQ(actions, std::vector<int>{ActionShow});
    EXPECT_TRUE(::GetWindowLongW(box, GWL_STYLE) & WS_THICKFRAME);
    EXPECT_FALSE(Button(box, BtnShow));
    HWND tabs = ::FindWindowExW(box, nullptr, WC_TABCONTROLW, nullptr);
    ASSERT_TRUE(tabs);
    const std::vector<std::string> titles = TabTitles(tabs);
    ASSERT_GE(titles.size(), 5u);
    EXPECT_EQ(titles[0], "general");
    EXPECT_EQ(titles[1].substr(0, 10), "call stack");
    auto index = [&](const std::string& t) {
        return int(std::find(titles.begin(), titles.end(), t) - titles.begin());
    };
    const int regs = index("cpu regs");
    ASSERT_LT(regs, int(titles.size()));
    EXPECT_LT(index("stack dump"), int(titles.size()));
    EXPECT_LT(index("disasm"), int(titles.size()));

    // A placeholder is plain text; when the completion has filled the section it is a table.
    ChooseTab(box, tabs, regs);
    HWND view = ::GetDlgItem(box, 200);
    ASSERT_TRUE(view);
    EXPECT_EQ(ClassOf(view), "Edit");
    EXPECT_EQ(Text(view), ">> will be calculated soon");
    report->RunCompletion();
    ASSERT_TRUE(WaitIdle(box));
    view = ::GetDlgItem(box, 200);
    EXPECT_EQ(ClassOf(view), "SysListView32");
    EXPECT_GE(::SendMessageW(view, LVM_GETITEMCOUNT, 0, 0), 9);
    EXPECT_TRUE(::IsWindowVisible(box));

    for (const char* tab :
         {"general", "cpu regs", "stack dump", "disasm", "modules", "processes", "hardware"}) {
        if (index(tab) >= int(titles.size())) continue;
        ChooseTab(box, tabs, index(tab));
        Shot(box, std::string("exception-dialog-expanded-") + (tab[0] == 'c'   ? "cpu-regs"
                                                               : tab[0] == 's' ? "stack-dump"
                                                                               : tab));
    }
    ChooseTab(box, tabs, 1);
    EXPECT_EQ(ClassOf(::GetDlgItem(box, 200)), "SysListView32");
    Shot(box, "exception-dialog-expanded-call-stack");

    // Larger: the right-hand buttons keep to the right edge, the view grows.
    const RECT close = ChildRect(Button(box, BtnClose)), before = ChildRect(::GetDlgItem(box, 200));
    RECT frame;
    ::GetWindowRect(box, &frame);
    ::SetWindowPos(box, nullptr, 0, 0, frame.right - frame.left + 120, frame.bottom - frame.top + 80,
                   SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(WaitIdle(box));
    const RECT close2 = ChildRect(Button(box, BtnClose)), after = ChildRect(::GetDlgItem(box, 200));
    EXPECT_EQ(close2.left - close.left, 120);
    EXPECT_EQ(close2.top, close.top);
    EXPECT_EQ(after.right - after.left, before.right - before.left + 120);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top + 80);
    // Smaller than at the start it does not go.
    ::SetWindowPos(box, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(WaitIdle(box));
    RECT small;
    ::GetWindowRect(box, &small);
    EXPECT_EQ(small.right - small.left, frame.right - frame.left);

    // Expanded, Ctrl+C copies the whole report.
    EXPECT_EQ(CopyWithCtrlC(), report->ReportText(true));

    Click(box, BtnClose);
    EXPECT_EQ(shown.Result(), TExceptionBoxResult::Close);
    EXPECT_EQ(actions, (std::vector<int>{ActionShow, ActionClose}));
}

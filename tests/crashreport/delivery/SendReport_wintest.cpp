// The send pipeline's progress window in front of its owner and, sent in the background, in the
// screen's corner while the owner stays usable; the save dialog; the printed page's layout.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "crashreport/delivery/PrintReportWin32.h"
#include "crashreport/delivery/SendReportWin32.h"
#include "crashreport/delivery/net/WinsockWin32.h"
#include "framework/Win32Util.h"
#include "tests/support/WinTestSupport.h"

namespace {

const std::string Report =
    "date/time          : 2026-12-08, 13:00:00, 1ms\r\n"
    "exception class    : EAccessViolation\r\n"
    "exception message  : Stone list is empty.\r\n"
    "\r\nmain thread ($A1C):\r\n004C1A2B +01F LevelEditor.exe Unit1 812 +4 TForm1.SaveClick\r\n";

// A web server that takes the connection but answers only when the test says so: the send is
// held at its last stage for as long as the test needs.
class THeldServer {
public:
    THeldServer() : FListen(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        ::bind(FListen.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(FListen.Get(), 1);
        int size = sizeof a;
        ::getsockname(FListen.Get(), reinterpret_cast<sockaddr*>(&a), &size);
        Port = ::ntohs(a.sin_port);
    }
    // Reads the request to its closing boundary: the sender has drawn its progress by then.
    bool Receive() {
        FClient.Reset(::accept(FListen.Get(), nullptr, nullptr));
        std::string request;
        char buffer[4096];
        while (request.find("--\r\n", request.find("\r\n\r\n")) == std::string::npos) {
            const int n = ::recv(FClient.Get(), buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            request.append(buffer, size_t(n));
        }
        return true;
    }
    bool Reply() {
        const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        const bool sent = ::send(FClient.Get(), reply, int(sizeof reply - 1), 0) == int(sizeof reply - 1);
        FClient.Reset();
        return sent;
    }
    int Port = 0;

private:
    TWinsock FWinsock;
    TSocket FListen, FClient;
};

HWND WaitForProgressWindow() {
    for (int i = 0; i < 3000; ++i) {
        HWND w = ::FindWindowW(L"prgrAlertWndClass", nullptr);
        if (w && ::IsWindowVisible(w)) return w;
        ::Sleep(10);
    }
    return nullptr;
}

class SendReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeliverySwitches() = TDeliverySwitches();
        DeliverySwitches().IgnoreSystemProxy = true;
        DeliverySwitches().HttpReplyTimeout = 120; // the test answers, not the clock
        FSettings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>());
        FSettings->WriteBool("UploadViaHttp", true);
        FSettings->WriteText("HttpServer", "http://127.0.0.1/bugs");
        FSettings->WriteInt("HttpPort", FServer.Port);
        FSettings->WriteBool("MailViaMapi", false);
        FSettings->WriteBool("MailViaMailto", false);
        FSettings->WriteText("BugRepFile", Narrow(FDir.File(L"bugreport.txt")));
        FOwner = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 10, 10, 200,
                                   100, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        ::DestroyWindow(FOwner);
        DeliverySwitches() = TDeliverySwitches();
    }
    TSendBugReportArgs Args(bool background) {
        TSendBugReportArgs a;
        a.Report = Report;
        a.Parent = FOwner;
        a.Settings = FSettings;
        a.State = FState;
        a.Background = background;
        return a;
    }

    THeldServer FServer;
    TTempDir FDir;
    TRef<TSettingsOverlay<>> FSettings;
    TRef<TSendState> FState = MakeRef<TSendState>();
    HWND FOwner = nullptr;
};

} // namespace

TEST_F(SendReportTest, ProgressWindowInFrontOfItsOwner) {
    RECT at{};
    bool ownerEnabled = true, answered = false;
    std::thread server([&] {
        HWND w = WaitForProgressWindow();
        answered = FServer.Receive();
        if (w) {
            ::GetWindowRect(w, &at);
            ownerEnabled = ::IsWindowEnabled(FOwner);
            Screenshot(w, "send-progress-front");
        }
        answered = FServer.Reply() && answered;
    });
    EXPECT_EQ(SendBugReport(Args(false)), SendSent);
    server.join();
    EXPECT_TRUE(answered);
    EXPECT_TRUE(FState->Sent());
    EXPECT_FALSE(ownerEnabled); // owned and modal for its time
    EXPECT_TRUE(::IsWindowEnabled(FOwner));
    const int width = at.right - at.left, height = at.bottom - at.top;
    EXPECT_GT(width, 0);
    EXPECT_EQ(at.left, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(at.top, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    EXPECT_EQ(::FindWindowW(L"prgrAlertWndClass", nullptr), nullptr);
}

TEST_F(SendReportTest, BackgroundSendLeavesTheOwnerUsable) {
    EXPECT_EQ(SendBugReport(Args(true)), SendSent); // at once: the send waits for our server
    EXPECT_FALSE(::GetWindowLongW(FOwner, GWL_EXSTYLE) & WS_EX_TOPMOST);
    HWND w = WaitForProgressWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(FState->Sent());
    // The owner's thread goes on: its window answers and is not disabled.
    EXPECT_TRUE(::IsWindowEnabled(FOwner));
    EXPECT_EQ(::SendMessageW(FOwner, WM_GETTEXTLENGTH, 0, 0), 5);
    EXPECT_NE(::GetWindowThreadProcessId(w, nullptr), ::GetCurrentThreadId());
    EXPECT_EQ(::GetWindow(w, GW_OWNER), nullptr);
    RECT at{}, work{};
    ::GetWindowRect(w, &at);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(at.right, work.right - 2);
    EXPECT_EQ(at.bottom, work.bottom - 2);
    EXPECT_TRUE(FServer.Receive());
    Screenshot(w, "send-progress-background");
    EXPECT_TRUE(FServer.Reply());
    FState->WaitForThreads();
    EXPECT_TRUE(FState->Sent());
}

TEST_F(SendReportTest, SaveThroughTheDialogAndWithout) {
    const std::wstring chosen = FDir.File(L"chosen.txt");
    {
        TDialogAnswerer answer({EnterFileName(chosen)});
        EXPECT_TRUE(SaveBugReport(nullptr, Report, FOwner, *FSettings, false, FState.Get(), nullptr));
        ASSERT_EQ(answer.Titles().size(), 1u);
        EXPECT_EQ(answer.Titles()[0], L"save bug report");
    }
    const auto text = [](const std::wstring& path) {
        const std::vector<uint8_t> b = ReadFileBytes(path);
        return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(text(chosen), Report + "\r\n\r\n");
    EXPECT_FALSE(FState->WrittenToFile()); // the dialog chose the file: not the bug report file
    {
        TDialogAnswerer answer({PressButton(IDCANCEL)});
        EXPECT_FALSE(SaveBugReport(nullptr, Report, FOwner, *FSettings, false, FState.Get(), nullptr));
    }
    const std::string other = Narrow(FDir.File(L"sub\\other.txt"));
    EXPECT_TRUE(SaveBugReport(&other, Report, FOwner, *FSettings, true, FState.Get(), nullptr));
    EXPECT_FALSE(FState->WrittenToFile());
    EXPECT_TRUE(SaveBugReport(nullptr, Report, FOwner, *FSettings, true, FState.Get(), nullptr));
    EXPECT_TRUE(FState->WrittenToFile());
    EXPECT_EQ(text(FDir.File(L"bugreport.txt")), Report + "\r\n\r\n");
    EXPECT_EQ(text(FDir.File(L"sub\\other.txt")), Report + "\r\n\r\n");
    ::DeleteFileW(FDir.File(L"sub\\other.txt").c_str()); // the folder goes with the test's
    ::RemoveDirectoryW(FDir.File(L"sub").c_str());
}

TEST(PrintReport, PagesAndWrappedLines) {
    TMemoryDC dc(::CreateCompatibleDC(nullptr));
    TGdi<HFONT> font(CreatePrintFont(dc.Get()));
    TSelectObject selected(dc.Get(), font.Get());
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc.Get(), &tm);
    const int line = tm.tmHeight + tm.tmExternalLeading;
    ASSERT_GT(line, 0);
    // Room for exactly ten single lines per page, and some 40 characters per line.
    const TPageRect area{30, 20, 30 + 40 * tm.tmAveCharWidth, 20 + 10 * line + line / 2};
    std::vector<std::string> lines = PrintLines(Report);
    lines.push_back(std::string(150, 'x') + " " + std::string(30, 'y')); // wraps to several rows
    for (int i = 0; i < 12; ++i)
        lines.push_back("line " + std::to_string(i) + " & more");
    int starts = 0, ends = 0;
    const std::vector<TPrintedLine> out = DrawReportPages(
        dc.Get(), lines, area, [&] { return ++starts > 0; }, [&] { return ++ends > 0; });
    ASSERT_EQ(out.size(), lines.size());
    EXPECT_EQ(starts, ends);
    EXPECT_EQ(starts, out.back().Page + 1);
    for (size_t i = 0; i < out.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const RECT& r = out[i].Rect;
        EXPECT_EQ(r.left, area.Left);
        EXPECT_EQ(r.right, area.Right);
        EXPECT_EQ((r.bottom - r.top) % line, 0);
        EXPECT_LE(r.bottom, area.Bottom);
        if (i > 0 && out[i].Page == out[i - 1].Page) {
            EXPECT_EQ(r.top, out[i - 1].Rect.bottom);
        } else {
            EXPECT_EQ(r.top, area.Top);
            // A page ends only where the next line would not fit.
            if (i > 0) {
                EXPECT_GT(out[i - 1].Rect.bottom + (r.bottom - r.top), area.Bottom);
            }
        }
    }
    EXPECT_EQ(out[3].Rect.bottom - out[3].Rect.top, line); // an empty line keeps its height
    const RECT& wrapped = out[PrintLines(Report).size()].Rect;
    EXPECT_GE(wrapped.bottom - wrapped.top, 5 * line); // the long word broken too
    EXPECT_GE(starts, 2);
}

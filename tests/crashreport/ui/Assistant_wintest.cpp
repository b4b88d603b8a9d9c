// The assistant forms shown on a thread of their own, as the handling flow shows them, and driven
// from the test's thread by the messages a user's typing and clicks produce. Every step waits
// until the form's loop has taken a marker posted after it, never a fixed time.
#include "crashreport/ui/AssistantWin32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/settings/SettingsWin32.h"
#include "framework/Win32Util.h"
#include "tests/crashreport/report/ReportFakes.h"
#include "tests/support/WinTestSupport.h"

namespace {

// ---- the assistant on its own thread

class TShownAssistant {
public:
    TShownAssistant(TRef<IMESettings> settings, std::string name, TAssistantSubject& subject)
        : FSettings(std::move(settings)), FName(std::move(name)), FSubject(subject), FThread([this] {
              FThreadId = ::GetCurrentThreadId();
              FResult = RunActionAssistant(*FSettings, FName, FSubject, nullptr);
              FDone = true;
          }) {}
    ~TShownAssistant() {
        // A failed test leaves a form up: cancel it.
        while (!FDone) {
            if (HWND w = Find(nullptr)) ::PostMessageW(w, WM_CLOSE, 0, 0);
            ::Sleep(20);
        }
        FThread.join();
    }

    // The visible form (another than `before`), once it is idle.
    HWND Up(HWND before = nullptr) {
        HWND wnd = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (wnd = Find(before)) != nullptr; })) << "no form";
        if (wnd) {
            EXPECT_TRUE(WaitIdle(wnd));
        }
        return wnd;
    }
    int Result() {
        EXPECT_TRUE(WaitFor([&] { return FDone.load(); })) << "the assistant did not end";
        return FResult;
    }
    HWND Focus() const { return FocusOf(FThreadId); }
    // A key as the focused control receives it.
    void Key(WPARAM key) const { PostKey(FThreadId, key); }

private:
    HWND Find(HWND before) const { return FindThreadWindow(FThreadId, L"xunNVAssistantWnd", before); }

    TRef<IMESettings> FSettings;
    std::string FName;
    TAssistantSubject& FSubject;
    std::atomic<DWORD> FThreadId{0};
    std::atomic<bool> FDone{false};
    int FResult = -1;
    std::thread FThread; // last: it runs at once
};

HWND Item(HWND form, int index) {
    return ::GetDlgItem(form, AssistantItemId + index);
}
HWND Child(HWND form, const wchar_t* cls, int nth = 0) {
    HWND w = nullptr;
    for (int i = 0; i <= nth; ++i)
        w = ::FindWindowExW(form, w, cls, nullptr);
    return w;
}
HWND Child(HWND form, const wchar_t* cls, const wchar_t* text) {
    return ::FindWindowExW(form, nullptr, cls, text);
}
std::string Text(HWND w) {
    return Narrow(WindowText(w));
}
bool Enabled(HWND w) {
    return ::IsWindowEnabled(w) != FALSE;
}

// A click as the mouse gives it, in the window's client coordinates (its centre by default).
void Click(HWND w, int x = -1, int y = -1) {
    RECT r;
    ::GetClientRect(w, &r);
    const LPARAM at = MAKELPARAM(x < 0 ? r.right / 2 : x, y < 0 ? r.bottom / 2 : y);
    ::PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(w, WM_LBUTTONUP, 0, at);
    WaitIdle(::GetAncestor(w, GA_ROOT));
}

// Typing into an edit, read back afterwards.
void Type(HWND edit, const std::string& text) {
    const std::string before = Text(edit);
    for (char c : text)
        ::PostMessageW(edit, WM_CHAR, WPARAM(uint8_t(c)), 1);
    WaitIdle(::GetParent(edit));
    std::string expected = before + text;
    for (size_t at; (at = expected.find('\r')) != std::string::npos && expected[at + 1] != '\n';)
        expected.insert(at + 1, "\n");
    EXPECT_EQ(Text(edit), expected);
}

// The form's client pixels as the screen shows them.
TBitmap32 ClientPixels(HWND form) {
    RECT r;
    ::GetClientRect(form, &r);
    TBitmap32 out(r.right, r.bottom);
    TWindowDC dc(form);
    TMemoryDC mem(::CreateCompatibleDC(dc.Get()));
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TGdi<HBITMAP> bmp(::CreateDIBSection(mem.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp) return out;
    TSelectObject select(mem.Get(), bmp.Get());
    ::BitBlt(mem.Get(), 0, 0, r.right, r.bottom, dc.Get(), 0, 0, SRCCOPY);
    ::GdiFlush();
    std::memcpy(out.Pixels.data(), bits, out.Pixels.size() * 4);
    for (uint32_t& p : out.Pixels)
        p &= 0xFFFFFF;
    return out;
}

// Where the colour shows in the form (give or take what resampling rounds): the bounding box,
// empty when nowhere.
RECT Find(const TBitmap32& pixels, uint32_t colour, int* count = nullptr) {
    auto close = [colour](uint32_t p) {
        return std::abs(int(RedOf(p)) - int(RedOf(colour))) <= 3 &&
               std::abs(int(GreenOf(p)) - int(GreenOf(colour))) <= 3 &&
               std::abs(int(BlueOf(p)) - int(BlueOf(colour))) <= 3;
    };
    RECT box{pixels.Width, pixels.Height, 0, 0};
    int n = 0;
    for (int y = 0; y < pixels.Height; ++y)
        for (int x = 0; x < pixels.Width; ++x)
            if (close(pixels.At(x, y))) {
                ++n;
                box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                       std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
            }
    if (count) *count = n;
    return n ? box : RECT{};
}

void Shot(HWND form, const std::string& name) {
    ::RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    WaitIdle(form);
    std::vector<uint8_t> last;
    for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> now = ReadFileBytes(Widen(Screenshot(form, name)));
        if (now == last) break;
        last = std::move(now);
        ::Sleep(50);
    }
}

// The shipped settings, with this test's changes kept apart.
TRef<IMESettings> ShippedSettings() {
    return MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(SettingsForModule(::GetModuleHandleW(nullptr))));
}

// A report over a made-up process, composed up to its header and sections.
TRef<TBugReport> FakeReport() {
    static TPluginRegistry plugins;
    auto process = MakeRef<TFakeProcess>();
    process->Add(0xA1C, 0x00401000, 0x12FF00);
    TReportSources s;
    s.Settings = MakeRef<TSettingsOverlay<>>(nullptr);
    s.Facts = MakeRef<TFakeFacts>();
    s.Process = process;
    s.Tracer = MakeRef<TFakeTracer>();
    s.ThreadNames = MakeRef<TFakeThreadNames>();
    s.Plugins = &plugins;
    s.NextExceptionNumber = [] { return uint64_t(1); };
    TReportException e;
    e.ClassName = "EStoneError";
    e.Message = "Stone list is empty";
    e.CrashedThreadId = 0xA1C;
    auto report = MakeRef<TBugReport>(e, s);
    report->SetDeferCompletion(true);
    report->Header();
    report->Sections();
    return report;
}

std::vector<std::string> HeaderNames(TBugReport& report) {
    std::vector<std::string> names;
    TRef<IMEFields> header = report.Header();
    for (int i = 0; i < header->ItemCount(); ++i)
        names.push_back(header->ItemName(i));
    return names;
}

// The remembered contact, put back as it was after the test.
class TContactValues {
public:
    TContactValues() {
        HKEY raw = nullptr;
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Xunvard\\ContactForm", 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &raw, nullptr);
        FKey.Reset(raw);
        for (auto& [name, value, had] : FSaved)
            had = Read(name, value);
        Clear();
    }
    ~TContactValues() {
        Clear();
        for (auto& [name, value, had] : FSaved)
            if (had) Write(name, value);
    }
    bool Read(const wchar_t* name, std::wstring& value) const {
        wchar_t buf[512] = {};
        DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
        if (::RegQueryValueExW(FKey.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
            ERROR_SUCCESS)
            return false;
        value = buf;
        return true;
    }
    void Write(const wchar_t* name, const std::wstring& value) const {
        ::RegSetValueExW(FKey.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         DWORD((value.size() + 1) * sizeof(wchar_t)));
    }
    void Clear() const {
        ::RegDeleteValueW(FKey.Get(), L"RememberName");
        ::RegDeleteValueW(FKey.Get(), L"RememberEmail");
    }

private:
    TRegKey FKey;
    struct TSaved {
        const wchar_t* Name;
        std::wstring Value;
        bool Had;
    } FSaved[2] = {{L"RememberName", {}, false}, {L"RememberEmail", {}, false}};
};

} // namespace

TEST(Assistant, ContactFormTypingRegistryAndReport) {
    TContactValues registry;
    auto settings = ShippedSettings();
    settings->WriteText("Assistant1", "ContactOnly|Contact Test|ContactForm");
    {
        // Typed, refused until the address is plausible, remembered.
        TFormCache cache;
        TAssistantSubject subject;
        subject.Report = FakeReport();
        subject.Cache = &cache;
        TShownAssistant shown(settings, "ContactOnly", subject);
        HWND form = shown.Up();
        ASSERT_TRUE(form);
        EXPECT_EQ(Text(form), "Contact Test");
        HWND name = Child(form, L"Edit", 0), email = Child(form, L"Edit", 1);
        HWND cont = Item(form, NVContinueBtn), remember = Child(form, L"Button", L"remember me");
        EXPECT_EQ(Text(remember), "remember me");
        EXPECT_EQ(Text(cont), "Continue");
        EXPECT_FALSE(Enabled(Item(form, NVSkipBtn)));
        EXPECT_EQ(shown.Focus(), name);
        EXPECT_FALSE(Enabled(cont));
        Type(name, "Anna Muster");
        EXPECT_FALSE(Enabled(cont)); // the name is optional, the address is not
        Type(email, "anna@example");
        EXPECT_FALSE(Enabled(cont));
        Type(email, ".de");
        EXPECT_TRUE(Enabled(cont));
        Click(remember);
        Shot(form, "assistant-contact-form");
        Click(cont);
        EXPECT_EQ(shown.Result(), NVContinue);
        std::wstring value;
        EXPECT_TRUE(registry.Read(L"RememberName", value) && value == L"Anna Muster");
        EXPECT_TRUE(registry.Read(L"RememberEmail", value) && value == L"anna@example.de");
        EXPECT_EQ(subject.MailFrom, "Anna Muster <anna@example.de>");
        EXPECT_EQ(settings->ReadText("MailFrom"), "Anna Muster <anna@example.de>");
        // Above the callstack checksum, as fields added later go.
        const std::vector<std::string> names = HeaderNames(*subject.Report);
        const auto crc = std::find(names.begin(), names.end(), "callstack crc");
        ASSERT_NE(crc, names.end());
        EXPECT_EQ(*(crc - 1), "contact name");
        EXPECT_EQ(*(crc - 2), "contact email");
        EXPECT_EQ(subject.Report->Header()->Contents("contact email"), "anna@example.de");
    }
    {
        // Another exception: filled from the registry, continue focused; unchecking forgets.
        TAssistantSubject subject;
        TShownAssistant shown(settings, "ContactOnly", subject);
        HWND form = shown.Up();
        ASSERT_TRUE(form);
        EXPECT_EQ(Text(Child(form, L"Edit", 0)), "Anna Muster");
        EXPECT_EQ(Text(Child(form, L"Edit", 1)), "anna@example.de");
        EXPECT_EQ(shown.Focus(), Item(form, NVContinueBtn));
        Click(Child(form, L"Button", L"remember me"));
        shown.Key(VK_TAB); // from the check box on to continue
        WaitIdle(form);
        EXPECT_EQ(shown.Focus(), Item(form, NVContinueBtn));
        shown.Key(VK_RETURN);
        EXPECT_EQ(shown.Result(), NVContinue);
        std::wstring value;
        EXPECT_FALSE(registry.Read(L"RememberName", value));
        EXPECT_FALSE(registry.Read(L"RememberEmail", value));
    }
    {
        // Esc cancels, and nothing reaches the report.
        TAssistantSubject subject;
        subject.Report = FakeReport();
        const size_t before = HeaderNames(*subject.Report).size();
        TShownAssistant shown(settings, "ContactOnly", subject);
        HWND form = shown.Up();
        ASSERT_TRUE(form);
        Type(Child(form, L"Edit", 1), "x@y.z");
        shown.Key(VK_ESCAPE);
        EXPECT_EQ(shown.Result(), NVCancel);
        EXPECT_EQ(HeaderNames(*subject.Report).size(), before);
        EXPECT_TRUE(subject.MailFrom.empty());
    }
}

TEST(Assistant, SendAssistantStepsDetailsSectionAndCache) {
    TContactValues registry;
    auto settings = ShippedSettings();
    settings->WriteInt("ScrShotDepth", 0); // screenshots off: two steps
    TFormCache cache;
    TAssistantSubject subject;
    subject.Report = FakeReport();
    subject.Cache = &cache;
    subject.Screenshot = NewNVBitmap(TBitmap32(64, 48, Rgb(0, 0, 255)));
    {
        TShownAssistant shown(settings, "SendAssistant", subject);
        HWND contact = shown.Up();
        ASSERT_TRUE(contact);
        EXPECT_EQ(Text(contact), "Send Assistant");
        Type(Child(contact, L"Edit", 1), "anna@example.de");
        Click(Item(contact, NVContinueBtn));
        HWND details = shown.Up(contact);
        ASSERT_TRUE(details);
        HWND memo = Child(details, L"Edit");
        EXPECT_EQ(::GetWindowLongW(memo, GWL_STYLE) & (ES_MULTILINE | WS_VSCROLL), ES_MULTILINE | WS_VSCROLL);
        EXPECT_EQ(shown.Focus(), memo);
        EXPECT_FALSE(Enabled(Item(details, NVContinueBtn)));
        EXPECT_TRUE(Enabled(Item(details, NVSkipBtn)));
        Type(memo, "I saved a level\rand it crashed");
        EXPECT_TRUE(Enabled(Item(details, NVContinueBtn)));
        Shot(details, "assistant-details-form");
        Click(Item(details, NVContinueBtn));
        EXPECT_EQ(shown.Result(), NVContinue);
    }
    TRef<IMEFields> sections = subject.Report->Sections();
    EXPECT_EQ(sections->ItemName(sections->ItemCount() - 1), "error details");
    EXPECT_EQ(sections->Contents("error details"), "I saved a level\r\nand it crashed");
    EXPECT_EQ(subject.Report->Header()->Contents("contact email"), "anna@example.de");
    EXPECT_TRUE(subject.MailFrom.empty()); // no name, no sender

    // The save assistant of the same exception: both forms come filled, continue focused.
    subject.Report = FakeReport();
    {
        TShownAssistant shown(settings, "SaveAssistant", subject);
        HWND contact = shown.Up();
        ASSERT_TRUE(contact);
        EXPECT_EQ(Text(Child(contact, L"Edit", 1)), "anna@example.de");
        EXPECT_EQ(shown.Focus(), Item(contact, NVContinueBtn));
        shown.Key(VK_RETURN);
        HWND details = shown.Up(contact);
        ASSERT_TRUE(details);
        EXPECT_EQ(Text(Child(details, L"Edit")), "I saved a level\r\nand it crashed");
        EXPECT_EQ(shown.Focus(), Item(details, NVContinueBtn));
        Click(Item(details, NVSkipBtn));
        EXPECT_EQ(shown.Result(), NVContinue);
    }
    // Skipped: no section, but the contact still counts.
    EXPECT_EQ(subject.Report->Sections()->IndexOf("error details"), -1);
    EXPECT_EQ(subject.Report->Header()->Contents("contact email"), "anna@example.de");
}

namespace {

// The "edit" verb of .bmp files starts the stand-in editor beside the test program while the
// test runs.
class TEditVerb {
public:
    TEditVerb() {
        wchar_t exe[MAX_PATH];
        ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
        Editor = std::wstring(ExtractFileDir(std::wstring(exe))) + L"\\edit_picture.exe";
        HKEY raw = nullptr;
        ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L".bmp", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
        FExtension.Reset(raw);
        wchar_t old[256] = {};
        DWORD size = sizeof old - sizeof(wchar_t);
        FHadOld = ::RegQueryValueExW(raw, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) ==
                  ERROR_SUCCESS;
        FOld = old;
        Set(raw, L"ZembrakTestPicture");
        HKEY command = nullptr;
        ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"ZembrakTestPicture\\shell\\edit\\command", 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &command, nullptr);
        Set(command, L"\"" + Editor + L"\" \"%1\"");
        ::RegCloseKey(command);
    }
    ~TEditVerb() {
        if (FHadOld)
            Set(FExtension.Get(), FOld);
        else
            ::RegDeleteValueW(FExtension.Get(), nullptr);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"ZembrakTestPicture");
    }
    std::wstring Editor;

private:
    static void Set(HKEY key, const std::wstring& value) {
        ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         DWORD((value.size() + 1) * sizeof(wchar_t)));
    }
    TRegKey FExtension;
    std::wstring FOld;
    bool FHadOld = false;
};

} // namespace

TEST(Assistant, ScreenshotFormEditRoundTrip) {
    TEditVerb verb;
    ASSERT_TRUE(FileExists(verb.Editor));
    TTempDir temp;
    auto settings = ShippedSettings();
    settings->WriteText("Assistant1", "ShotOnly|Screenshot Test|ScrShotForm");
    TAssistantSubject subject;
    subject.Screenshot = NewNVBitmap(TBitmap32(400, 300, Rgb(0, 0, 255)));
    subject.AttachScreenshot = true;
    subject.TempFolder = temp.Path() + L"\\"; // as the crash reporter names its folder
    const std::wstring file = temp.File(L"screenShot.bmp");
    {
        TShownAssistant shown(settings, "ShotOnly", subject);
        HWND form = shown.Up();
        ASSERT_TRUE(form);
        EXPECT_EQ(shown.Focus(), Item(form, NVContinueBtn));
        EXPECT_FALSE(Enabled(Item(form, NVSkipBtn)));
        RECT picture{};
        ASSERT_TRUE(WaitFor([&] { return (picture = Find(ClientPixels(form), Rgb(0, 0, 255))).right > 0; }));
        // Shrunk to the form with its proportions kept.
        EXPECT_NEAR((picture.right - picture.left) * 3, (picture.bottom - picture.top) * 4, 6);
        Shot(form, "assistant-screenshot-form");

        // The click saves the picture and starts the editor; the timer picks up what it saved.
        Click(form, (picture.left + picture.right) / 2, (picture.top + picture.bottom) / 2);
        int red = 0;
        EXPECT_TRUE(WaitFor([&] {
            Find(ClientPixels(form), Rgb(255, 0, 0), &red);
            return red == (picture.right - picture.left) * (picture.bottom - picture.top);
        })) << red;
        EXPECT_TRUE(FileExists(file));
        Shot(form, "assistant-screenshot-form-edited");
        Click(Child(form, L"Button", L"attach a screenshot to the bug report")); // off
        Click(Item(form, NVContinueBtn));
        EXPECT_EQ(shown.Result(), NVContinue);
    }
    ASSERT_TRUE(subject.Screenshot);
    const TBitmap32 edited = subject.Screenshot->Pixels();
    EXPECT_EQ(edited.Width, 400);
    int red = 0;
    Find(edited, Rgb(255, 0, 0), &red);
    EXPECT_EQ(red, 400 * 300);
    EXPECT_FALSE(subject.AttachScreenshot);
    EXPECT_FALSE(FileExists(file));
}

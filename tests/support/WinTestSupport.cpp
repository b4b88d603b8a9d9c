#include "tests/support/WinTestSupport.h"

#include <algorithm>
#include <chrono>
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <zlib.h>

#include "crashreport/base/HandlesWin32.h"

namespace {

HWND FindNewDialog(const std::vector<HWND>& seen, bool hiddenToo = false) {
    struct TSearch {
        const std::vector<HWND>* Seen;
        bool HiddenToo;
        HWND Found = nullptr;
    } search{&seen, hiddenToo};
    ::EnumWindows(
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto* s = reinterpret_cast<TSearch*>(p);
            DWORD pid = 0;
            ::GetWindowThreadProcessId(w, &pid);
            wchar_t cls[64];
            ::GetClassNameW(w, cls, 64);
            if (pid != ::GetCurrentProcessId() || wcscmp(cls, L"#32770") != 0) return TRUE;
            if (!s->HiddenToo && !::IsWindowVisible(w)) return TRUE;
            for (HWND h : *s->Seen)
                if (h == w) return TRUE;
            s->Found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBE32(out, static_cast<uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    PutBE32(out, static_cast<uint32_t>(crc));
}

// Clicks a dialog's button, as the button itself would tell the dialog.
void Press(HWND dlg, int id) {
    ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

// A dialog is up and idle once its thread's message loop takes a message posted to it now: it has
// left its creation and set-up (WM_INITDIALOG and whatever that posted to itself came before),
// and sits in its modal loop. A hook on the dialog's thread sees the marker taken and tells the
// answerer. (Idle messages would not do: Wine's message boxes carry DS_NOIDLEMSG.)
constexpr WPARAM IdleMarker = 0x5A45;
struct TIdleWatch {
    std::atomic<HWND> Dialog{nullptr};
    HANDLE Taken = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};
TIdleWatch IdleWatch;

LRESULT CALLBACK MarkerHook(int code, WPARAM wp, LPARAM lp) {
    auto* m = reinterpret_cast<const MSG*>(lp);
    if (code == HC_ACTION && wp == PM_REMOVE && m->message == WM_NULL && m->wParam == IdleMarker &&
        m->hwnd == IdleWatch.Dialog)
        ::SetEvent(IdleWatch.Taken);
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

} // namespace

bool WaitIdle(HWND dlg) {
    DWORD thread = ::GetWindowThreadProcessId(dlg, nullptr);
    ::ResetEvent(IdleWatch.Taken);
    IdleWatch.Dialog = dlg;
    THook hook(::SetWindowsHookExW(WH_GETMESSAGE, MarkerHook, nullptr, thread));
    ::PostMessageW(dlg, WM_NULL, IdleMarker, 0);
    bool idle = false;
    for (int waited = 0; !idle && waited < 10000 && ::IsWindow(dlg); waited += 50)
        idle = ::WaitForSingleObject(IdleWatch.Taken, 50) == WAIT_OBJECT_0;
    hook.Reset();
    IdleWatch.Dialog = nullptr;
    return idle;
}

HWND FindOpenDialog(bool hiddenToo) {
    return FindNewDialog({}, hiddenToo);
}

std::wstring WindowText(HWND w) {
    wchar_t buf[2048] = {};
    DWORD_PTR n = 0;
    if (!::SendMessageTimeoutW(w, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 1000,
                               &n))
        return {};
    return std::wstring(buf, std::min<size_t>(n, 2047));
}

TDialogAnswerer::TDialogAnswerer(std::vector<TAction> actions)
    : FActions(std::move(actions)), FThread([this] { Run(); }) {}

TDialogAnswerer::~TDialogAnswerer() {
    FStop = true;
    FThread.join();
}

void TDialogAnswerer::Run() {
    std::vector<HWND> seen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FStop && FAnswered < FActions.size() && std::chrono::steady_clock::now() < deadline) {
        HWND dlg = FindNewDialog(seen);
        if (!dlg) {
            ::Sleep(20);
            continue;
        }
        seen.push_back(dlg);
        if (!WaitIdle(dlg))
            std::fprintf(stderr, "dialog \"%ls\" did not reach its message loop; answering it anyway\n",
                         WindowText(dlg).c_str());
        {
            std::lock_guard<std::mutex> lock(FLock);
            FTexts.push_back(WindowText(::GetDlgItem(dlg, 0xFFFF)));
            FTitles.push_back(WindowText(dlg));
        }
        FActions[FAnswered](dlg);
        ++FAnswered;
    }
}

std::vector<std::wstring> TDialogAnswerer::Texts() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FTexts;
}

std::vector<std::wstring> TDialogAnswerer::Titles() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FTitles;
}

TDialogAnswerer::TAction PressButton(int id) {
    return [id](HWND dlg) { Press(dlg, id); };
}

TDialogAnswerer::TAction EnterFileName(const std::wstring& path) {
    return [path](HWND dlg) {
        HWND box = ::GetDlgItem(dlg, 0x47c);
        HWND edit = box ? reinterpret_cast<HWND>(::SendMessageW(box, CBEM_GETEDITCONTROL, 0, 0)) : nullptr;
        if (!edit) edit = ::GetDlgItem(dlg, 0x480);
        edit = edit ? edit : box;
        ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        if (WindowText(edit) != path)
            std::fprintf(stderr, "the file name box holds \"%ls\" instead of \"%ls\"\n",
                         WindowText(edit).c_str(), path.c_str());
        Press(dlg, IDOK);
    };
}

TDialogAnswerer::TAction ScreenshotAndPress(const std::string& name, int id) {
    return [name, id](HWND dlg) {
        ::RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        ::Sleep(300);
        Screenshot(dlg, name);
        Press(dlg, id);
    };
}

void PumpMessages(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (ms > 0) ::Sleep(5);
    } while (std::chrono::steady_clock::now() < until);
}

void SendKey(WORD key, bool ctrl, bool shift, bool alt) {
    std::vector<INPUT> in;
    auto add = [&in](WORD vk, bool up) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        in.push_back(i);
    };
    if (ctrl) add(VK_CONTROL, false);
    if (shift) add(VK_SHIFT, false);
    if (alt) add(VK_MENU, false);
    add(key, false);
    add(key, true);
    if (alt) add(VK_MENU, true);
    if (shift) add(VK_SHIFT, true);
    if (ctrl) add(VK_CONTROL, true);
    ::SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

std::string Screenshot(HWND window, const std::string& name) {
    RECT r;
    ::GetWindowRect(window, &r);
    // A maximized window's frame lies off the screen; the screen DC reads only what is on it.
    RECT screenRect{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
    screenRect.right = screenRect.left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    screenRect.bottom = screenRect.top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ::IntersectRect(&r, &r, &screenRect);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return {};
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = ::CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();

    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(h) * (w * 3 + 1));
    const auto* px = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = px + (static_cast<size_t>(y) * w + x) * 4;
            raw.push_back(p[2]);
            raw.push_back(p[1]);
            raw.push_back(p[0]);
        }
    }
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, static_cast<uint32_t>(w));
    PutBE32(ihdr, static_cast<uint32_t>(h));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    PngChunk(png, "IHDR", ihdr);
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> z(size);
    compress2(z.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6);
    z.resize(size);
    PngChunk(png, "IDAT", z);
    PngChunk(png, "IEND", {});

    const char* dir = std::getenv("ZE_SCREENSHOT_DIR");
    std::string path = std::string(dir && *dir ? dir : ".") + "/" + name + ".png";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(png.data(), 1, png.size(), f);
        std::fclose(f);
    }
    return path;
}

TTempDir::TTempDir() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    FPath = std::wstring(base) + L"zetest" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter);
    ::CreateDirectoryW(FPath.c_str(), nullptr);
}

TTempDir::~TTempDir() {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((FPath + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring n = fd.cFileName;
            if (n == L"." || n == L"..") continue;
            std::wstring p = FPath + L"\\" + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                ::RemoveDirectoryW(p.c_str());
            else
                ::DeleteFileW(p.c_str());
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(FPath.c_str());
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<uint8_t> out;
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    uint8_t buf[4096];
    DWORD got;
    while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got)
        out.insert(out.end(), buf, buf + got);
    ::CloseHandle(h);
    return out;
}

void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        ::Sleep(10);
    }
    return true;
}

HWND FocusOf(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(threadId, &info);
    return info.hwndFocus;
}

void PostKey(DWORD threadId, WPARAM key) {
    HWND focus = FocusOf(threadId);
    ::PostMessageW(focus, WM_KEYDOWN, key, 1);
    ::PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
}

HWND FindThreadWindow(DWORD threadId, const wchar_t* className, HWND except) {
    struct TFind {
        const wchar_t* Class;
        HWND Except, Found;
    } find{className, except, nullptr};
    ::EnumThreadWindows(
        threadId,
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto* f = reinterpret_cast<TFind*>(p);
            wchar_t cls[64] = {};
            ::GetClassNameW(w, cls, 64);
            if (w != f->Except && ::IsWindowVisible(w) && std::wcscmp(cls, f->Class) == 0) {
                f->Found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.Found;
}

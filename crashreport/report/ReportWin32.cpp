// The report's facts and captured process, answered by the system.
#include "crashreport/report/ReportWin32.h"

#include <tlhelp32.h>
#include <wtsapi32.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "crashreport/base/LibraryWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/settings/SettingsStream.h"
#include "crashreport/settings/SettingsWin32.h"
#include "crashreport/symbols/PeLayout.h"

namespace {

uint64_t CounterMilliseconds() {
    LARGE_INTEGER now, freq;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&freq);
    return uint64_t(now.QuadPart) / (uint64_t(freq.QuadPart) / 1000 ? uint64_t(freq.QuadPart) / 1000 : 1);
}

// Taken when this code is loaded, so the up time counts from the program's start.
const uint64_t LoadedAt = ProgramStartMilliseconds();

std::string Cp1252(std::wstring_view s) {
    return Utf16ToCp1252(std::u16string(s.begin(), s.end()));
}

std::wstring RegText(HKEY root, const wchar_t* path, const wchar_t* name) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return {};
    TRegKey key(raw);
    wchar_t buf[512] = {};
    DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    buf[size / sizeof(wchar_t)] = 0;
    return buf;
}

std::string LocaleText(LCID locale, LCTYPE type) {
    wchar_t buf[128] = {};
    return ::GetLocaleInfoW(locale, type, buf, 128) ? Cp1252(buf) : std::string();
}

const wchar_t* const CurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t* const ProcessorKey = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor";

class TWin32SystemFacts : public TRefCountedImpl<ISystemFacts> {
public:
    explicit TWin32SystemFacts(HMODULE module) : FModule(module) {}

    std::string ComputerName() override {
        wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
        return ::GetComputerNameW(buf, &size) ? Cp1252(buf) : std::string();
    }
    std::string WtsClientName() override {
        if (!::GetSystemMetrics(SM_REMOTESESSION)) return {};
        TSystemLibrary wts(L"wtsapi32.dll");
        auto query = ZE_SYSTEM_PROC(wts, WTSQuerySessionInformationW);
        auto release = ZE_SYSTEM_PROC(wts, WTSFreeMemory);
        LPWSTR name = nullptr;
        DWORD size = 0;
        if (!query || !release ||
            !query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientName, &name, &size) || !name)
            return {};
        std::string out = Cp1252(name);
        release(name);
        return out;
    }
    std::string UserName() override {
        wchar_t buf[257] = {};
        DWORD size = 257;
        return ::GetUserNameW(buf, &size) ? Cp1252(buf) : std::string();
    }
    bool UserIsAdmin() override {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID admins = nullptr;
        if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                        0, 0, 0, &admins))
            return false;
        BOOL member = FALSE;
        if (!::CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
        ::FreeSid(admins);
        return member != FALSE;
    }
    std::string RegisteredOwner() override {
        return Cp1252(RegText(HKEY_LOCAL_MACHINE, CurrentVersionKey, L"RegisteredOwner"));
    }
    std::string RegisteredOrganization() override {
        return Cp1252(RegText(HKEY_LOCAL_MACHINE, CurrentVersionKey, L"RegisteredOrganization"));
    }
    TOsVersion OsVersion() override {
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof info;
        TOsVersion v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return v;
#pragma GCC diagnostic pop
        v.Nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        v.Major = info.dwMajorVersion;
        v.Minor = info.dwMinorVersion;
        v.Build = info.dwBuildNumber;
        v.Workstation = info.wProductType == VER_NT_WORKSTATION;
        v.R2 = ::GetSystemMetrics(SM_SERVERR2) != 0;
        v.TabletPc = ::GetSystemMetrics(SM_TABLETPC) != 0;
        v.Starter = ::GetSystemMetrics(SM_STARTER) != 0;
        v.MediaCenter = ::GetSystemMetrics(SM_MEDIACENTER) != 0;
#ifdef _WIN64
        v.X64 = true;
#else
        BOOL wow = FALSE;
        v.X64 = ::IsWow64Process(::GetCurrentProcess(), &wow) && wow;
#endif
        v.ServicePack = Cp1252(info.szCSDVersion);
        return v;
    }
    std::string SystemLanguage() override {
        return LocaleText(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE);
    }
    uint64_t SystemUpTimeSeconds() override {
        return ::GetTickCount64() / 1000;
    }
    uint64_t ProgramUpTimeMilliseconds() override {
        return CounterMilliseconds() - ProgramStartMilliseconds();
    }
    std::string ProcessorBrand() override {
        return Cp1252(RegText(HKEY_LOCAL_MACHINE, (std::wstring(ProcessorKey) + L"\\0").c_str(),
                              L"ProcessorNameString"));
    }
    int ProcessorCount() override {
        HKEY raw = nullptr;
        DWORD count = 0;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProcessorKey, 0, KEY_READ, &raw) == ERROR_SUCCESS) {
            TRegKey key(raw);
            ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr);
        }
        if (count == 0) {
            SYSTEM_INFO si{};
            ::GetSystemInfo(&si);
            count = si.dwNumberOfProcessors;
        }
        return int(count);
    }
    uint64_t AvailablePhysicalMemory() override {
        return Memory().ullAvailPhys;
    }
    uint64_t TotalPhysicalMemory() override {
        return Memory().ullTotalPhys;
    }
    std::string SystemResources() override {
        return {};
    }
    char SystemDrive() override {
        wchar_t dir[MAX_PATH] = {};
        UINT n = ::GetWindowsDirectoryW(dir, MAX_PATH);
        return n >= 2 && dir[1] == L':' ? char(dir[0] & ~0x20) : 'C';
    }
    char ExeDrive() override {
        std::wstring exe = ::ModulePath(nullptr);
        return exe.size() >= 2 && exe[1] == L':' ? char(exe[0] & ~0x20) : 0;
    }
    std::optional<uint64_t> FreeDiskSpace(char drive) override {
        const wchar_t root[] = {wchar_t(drive), L':', L'\\', 0};
        ULARGE_INTEGER free{};
        if (!::GetDiskFreeSpaceExW(root, &free, nullptr, nullptr)) return std::nullopt;
        return free.QuadPart;
    }
    std::string DecimalSeparator() override {
        return LocaleText(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL);
    }
    int DisplayWidth() override {
        return Mode().dmPelsWidth;
    }
    int DisplayHeight() override {
        return Mode().dmPelsHeight;
    }
    int DisplayBitsPerPixel() override {
        return Mode().dmBitsPerPel;
    }
    uint32_t ProcessId() override {
        return ::GetCurrentProcessId();
    }
    uint64_t AllocatedMemory() override {
        uint64_t sum = 0;
        MEMORY_BASIC_INFORMATION mbi;
        const BYTE* at = nullptr;
        while (::VirtualQuery(at, &mbi, sizeof mbi) == sizeof mbi) {
            if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) sum += mbi.RegionSize;
            const BYTE* next = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
            if (next <= at) break;
            at = next;
        }
        return sum;
    }
    std::string CommandLine() override {
        return Cp1252(::GetCommandLineW());
    }
    std::string ExecutablePath() override {
        return Cp1252(::ModulePath(nullptr));
    }
    std::string ModulePath() override {
        return Cp1252(::ModulePath(FModule));
    }
    TLocalTime ModuleFileTime() override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        FILETIME local{};
        SYSTEMTIME st{};
        if (!::GetFileAttributesExW(::ModulePath(FModule).c_str(), GetFileExInfoStandard, &data) ||
            !::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !::FileTimeToSystemTime(&local, &st))
            throw std::runtime_error("no file time");
        return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    }
    std::string ModuleVersion() override {
        return Win32TextVariables(FModule)->ModVersion();
    }
    std::string BdeVersion() override {
        HMODULE bde = ::GetModuleHandleW(L"idapi32.dll");
        return bde ? Win32TextVariables(bde)->ModVersion() : std::string();
    }

private:
    static MEMORYSTATUSEX Memory() {
        MEMORYSTATUSEX m{};
        m.dwLength = sizeof m;
        if (!::GlobalMemoryStatusEx(&m)) throw std::runtime_error("no memory status");
        return m;
    }
    static DEVMODEW Mode() {
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        if (!::EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode))
            throw std::runtime_error("no mode");
        return mode;
    }
    HMODULE FModule;
};

// Reads through the system, which reports failure where a plain read would fault.
class TProcessMemory : public IMemoryReader {
public:
    bool Read(uint64_t address, void* buffer, size_t size) const override {
        if (size == 0) return true;
        if (address > uint64_t(UINTPTR_MAX) - size) return false;
        SIZE_T done = 0;
        return ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(uintptr_t(address)),
                                   buffer, size, &done) &&
               done == size;
    }
};

class TCurrentProcess : public TRefCountedImpl<ICapturedProcess> {
public:
    explicit TCurrentProcess(uint32_t mainThreadId) : FMainThreadId(mainThreadId) {}

    bool Bits64() override { return sizeof(void*) == 8; }
    uint32_t MainThreadId() override {
        if (FMainThreadId == 0) {
            std::vector<uint32_t> ids = ThreadIds();
            if (!ids.empty()) FMainThreadId = ids.front();
        }
        return FMainThreadId;
    }
    std::vector<uint32_t> ThreadIds() override {
        std::vector<uint32_t> ids;
        TFileHandle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
        if (!snap) return ids;
        THREADENTRY32 te{};
        te.dwSize = sizeof te;
        const DWORD pid = ::GetCurrentProcessId();
        for (BOOL ok = ::Thread32First(snap.Get(), &te); ok; ok = ::Thread32Next(snap.Get(), &te))
            if (te.th32OwnerProcessID == pid) ids.push_back(te.th32ThreadID);
        return ids;
    }
    bool ThreadState(uint32_t id, TThreadState& state) override {
        if (id == ::GetCurrentThreadId()) {
            state = {false, ::GetThreadPriority(::GetCurrentThread())};
            return true;
        }
        TKernelHandle thread(::OpenThread(THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME, FALSE, id));
        if (!thread) return false;
        const int priority = ::GetThreadPriority(thread.Get());
        state.Priority = priority == THREAD_PRIORITY_ERROR_RETURN ? 0 : priority;
        const DWORD before = ::SuspendThread(thread.Get());
        if (before != DWORD(-1)) {
            ::ResumeThread(thread.Get());
            state.Suspended = before > 0;
        }
        return true;
    }
    bool ThreadContext(uint32_t id, TCpuContext& context) override {
        CONTEXT c{};
        c.ContextFlags = CONTEXT_FULL;
        if (id == ::GetCurrentThreadId()) {
            ::RtlCaptureContext(&c);
            context = CpuContextOf(c);
            return true;
        }
        TKernelHandle thread(
            ::OpenThread(THREAD_GET_CONTEXT | THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION, FALSE, id));
        if (!thread || ::SuspendThread(thread.Get()) == DWORD(-1)) return false;
        const bool ok = ::GetThreadContext(thread.Get(), &c) != FALSE;
        ::ResumeThread(thread.Get());
        if (ok) context = CpuContextOf(c);
        return ok;
    }
    const IMemoryReader& Memory() override { return FMemory; }
    bool RegionEnd(uint64_t address, uint64_t& end) override {
        MEMORY_BASIC_INFORMATION mbi{};
        if (::VirtualQuery(reinterpret_cast<const void*>(uintptr_t(address)), &mbi, sizeof mbi) !=
                sizeof mbi ||
            mbi.State != MEM_COMMIT)
            return false;
        end = uint64_t(uintptr_t(mbi.BaseAddress)) + mbi.RegionSize;
        return true;
    }
    bool CodeRange(uint64_t address, TCodeRange& range) override {
        HMODULE module = ModuleOfAddress(reinterpret_cast<const void*>(uintptr_t(address)));
        if (!module) return false;
        uint8_t headers[4096];
        if (!FMemory.Read(uint64_t(uintptr_t(module)), headers, sizeof headers)) return false;
        TPeLayout layout;
        if (!ParsePeLayout(headers, layout)) return false;
        range.Begin = uint64_t(uintptr_t(module)) + layout.CodeBase;
        range.End = uint64_t(uintptr_t(module)) + layout.CodeTop;
        return true;
    }

private:
    uint32_t FMainThreadId;
    TProcessMemory FMemory;
};

} // namespace

uint64_t ProgramStartMilliseconds() {
    static const uint64_t start = CounterMilliseconds();
    return start;
}

TRef<ISystemFacts> Win32SystemFacts(HMODULE module) {
    (void)LoadedAt;
    return MakeRef<TWin32SystemFacts>(module);
}

TRef<ICapturedProcess> CaptureCurrentProcess(uint32_t mainThreadId) {
    return MakeRef<TCurrentProcess>(mainThreadId);
}

TCpuContext CpuContextOf(const CONTEXT& c) {
    TCpuContext out;
#ifdef _WIN64
    out.Bits64 = true;
    const DWORD64 regs[] = {c.Rax, c.Rbx, c.Rcx, c.Rdx, c.Rsi, c.Rdi, c.Rip, c.Rsp, c.Rbp,
                            c.R8,  c.R9,  c.R10, c.R11, c.R12, c.R13, c.R14, c.R15};
#else
    const DWORD regs[] = {c.Eax, c.Ebx, c.Ecx, c.Edx, c.Esi, c.Edi, c.Eip, c.Esp, c.Ebp};
#endif
    for (size_t i = 0; i < sizeof regs / sizeof regs[0]; ++i)
        out.Regs[i] = regs[i];
    return out;
}

TWin32CompletionRunner::TWin32CompletionRunner(TRef<IProgressAlert> alert, bool plWaitBox, bool background)
    : FAlert(std::move(alert)), FProgress(FAlert.Get()), FPlWaitBox(plWaitBox), FBackground(background) {}

// The thread holds a reference while it runs: the last one may be released on it.
TWin32CompletionRunner::~TWin32CompletionRunner() = default;

DWORD WINAPI TWin32CompletionRunner::ThreadProc(void* param) {
    auto* self = static_cast<TWin32CompletionRunner*>(param);
    // Taken over, so report and runner do not hold each other once the thread is done.
    TRef<TBugReport> report(std::move(self->FRunning));
    try {
        report->RunCompletion(&self->FProgress);
    } catch (...) {
        // Each step guards itself; nothing may escape a thread.
    }
    self->Release(); // the reference Start gave the thread
    return 0;
}

void TWin32CompletionRunner::Start(TBugReport& report) {
    if (FThread) return;
    if (!FBackground) {
        Wait(report); // on the calling thread, now
        return;
    }
    FRunning = TRef<TBugReport>(&report);
    AddRef();
    FThread.Reset(::CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &FThreadId));
    if (!FThread) {
        Release();
        return; // completed on demand instead
    }
    ::SetThreadPriority(FThread.Get(), THREAD_PRIORITY_ABOVE_NORMAL);
    ::ResumeThread(FThread.Get());
}

void TWin32CompletionRunner::Wait(TBugReport& report) {
    // A change handler on the completion thread that asks for the complete text cannot wait for
    // itself; it gets the text as far as it is.
    if (FThread && ::GetCurrentThreadId() == FThreadId) return;
    const bool shown = FPlWaitBox && FAlert && FAlert->ShowAlert(nullptr, true);
    if (!FThread) {
        report.RunCompletion(&FProgress);
    } else {
        ::SetThreadPriority(FThread.Get(), THREAD_PRIORITY_HIGHEST);
        while (::WaitForSingleObject(FThread.Get(), shown ? 50 : INFINITE) == WAIT_TIMEOUT)
            FAlert->PumpMessages();
    }
    if (shown) FAlert->CloseAlert();
}
